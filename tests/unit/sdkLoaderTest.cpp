// The printer SDK loader: all 72 exports or nothing, its console lines, the library released
// on failure. The libraries are small stand-ins built beside the tests, each lacking one export.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "kvPrinter/printerSdkBinding.h"

namespace {

std::string stub(const std::string& name) { return std::string(KV_TEST_DIR) + "/stubs/lib" + name + ".so"; }

bool isLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

bool tableIsEmpty() {
    bool empty = printerSdk.module == nullptr;
#define KV_CHECK_EMPTY(name, result, params) empty = empty && printerSdk.name == nullptr;
    KV_PRINTER_SDK_EXPORTS(KV_CHECK_EMPTY)
#undef KV_CHECK_EMPTY
    return empty;
}

struct Outcome {
    bool loaded;
    std::string console;
};

Outcome load(const std::string& path) {
    testing::internal::CaptureStdout();
    const bool loaded = loadPrinterSdk(path);
    return {loaded, testing::internal::GetCapturedStdout()};
}

TEST(SdkLoader, ACompleteLibraryFillsTheWholeTable) {
    const Outcome outcome = load(stub("sdkstub_complete"));
    EXPECT_TRUE(outcome.loaded);
    EXPECT_EQ(outcome.console, "");
    EXPECT_TRUE(printerSdkLoaded());
#define KV_CHECK_FILLED(name, result, params) EXPECT_NE(printerSdk.name, nullptr) << #name;
    KV_PRINTER_SDK_EXPORTS(KV_CHECK_FILLED)
#undef KV_CHECK_FILLED
    unloadPrinterSdk();
    EXPECT_TRUE(tableIsEmpty());
    EXPECT_FALSE(isLoaded(stub("sdkstub_complete")));
}

TEST(SdkLoader, NoLibraryIsSilent) {
    const Outcome outcome = load("libkvPrinterSdkThatDoesNotExist.so");
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(outcome.console, "");
    EXPECT_TRUE(tableIsEmpty());
}

// The last export of the list: its line shows that the 71 before it were looked up and found.
TEST(SdkLoader, MissingLastExportIsNamedAndTheLibraryReleased) {
    const Outcome outcome = load(stub("sdkstub_no_getPaperInfo"));
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(outcome.console, "get getPaperInfo API error!\n");
    EXPECT_TRUE(tableIsEmpty());
    EXPECT_FALSE(isLoaded(stub("sdkstub_no_getPaperInfo")));
}

TEST(SdkLoader, LookupStopsAtTheFirstMissingExport) {
    const Outcome outcome = load(stub("sdkstub_no_connectUsbPrinter"));
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(outcome.console, "get connectUsbPrinter API error!\n");
    EXPECT_TRUE(tableIsEmpty());
}

TEST(SdkLoader, TwoExportsHaveTheirOwnConsoleNames) {
    EXPECT_EQ(load(stub("sdkstub_no_initSdk")).console, "get InitSdk API error!\n");
    EXPECT_EQ(load(stub("sdkstub_no_getRfidPararm")).console, "get getRfidParam API error!\n");
    EXPECT_TRUE(tableIsEmpty());
}

TEST(SdkLoader, AnExportThatIsNeverCalledIsRequiredAllTheSame) {
    const Outcome outcome = load(stub("sdkstub_no_getTubeInfo"));
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(outcome.console, "get getTubeInfo API error!\n");
    EXPECT_FALSE(isLoaded(stub("sdkstub_no_getTubeInfo")));
}

}  // namespace
