// The rendering-library loader: both libraries from the folder of the loaded printer SDK, every
// required export or no table at all, the one optional export, the console lines, and the
// libraries released on failure and at the end. Each folder of stand-ins lacks one thing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ostream>
#include <string>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvImageGallery/libraryFolders.h"
#include "kvPrinter/kvPrinterService.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/logCapture.h"
#include "tests/unit/drawTestSupport.h"

namespace {

using drawtest::answer;

std::string realFolder(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string stubFolder(const std::string& name) { return realFolder(std::string(KV_TEST_DIR) + "/thirdstubs/" + name); }

bool isLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

// The printer SDK of a folder, loaded while the object lives: the loader looks beside it.
class LoadedSdk {
public:
    explicit LoadedSdk(const std::string& folder) : handle_(dlopen((folder + "/libkvPrinterSdk.so").c_str(), RTLD_NOW)) {}
    ~LoadedSdk() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    LoadedSdk(const LoadedSdk&) = delete;
    LoadedSdk& operator=(const LoadedSdk&) = delete;
    bool loaded() const { return handle_ != nullptr; }

private:
    void* handle_;
};

std::string pathLines(const std::string& folder) {
    return "QXCanvasImage=" + folder + "/libQXCanvasImageKelo.so\npelixPath=" + folder + "/libpelix_windows.so\n";
}

bool tableIsEmpty(const ThirdLibraryApi& t) {
    bool empty = t.pelixModule == nullptr && t.qxModule == nullptr;
#define KV_CHECK_EMPTY(name, result, params) empty = empty && t.name == nullptr;
    KV_PELIX_EXPORTS(KV_CHECK_EMPTY)
    KV_QX_EXPORTS(KV_CHECK_EMPTY)
    KV_QX_OPTIONAL_EXPORTS(KV_CHECK_EMPTY)
#undef KV_CHECK_EMPTY
    return empty;
}

struct Outcome {
    bool loaded;
    std::string console;
};

Outcome load(ThirdLibraryApi& table) {
    testing::internal::CaptureStdout();
    const bool loaded = table.loadThirdLibrary();
    return {loaded, testing::internal::GetCapturedStdout()};
}

struct FailureCase {
    const char* folder;
    const char* lines;  // after the two path lines; {F} stands for the folder
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.folder; }

class ThirdLibraryLoadFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ThirdLibraryLoadFailure, NamesWhatIsMissingAndLeavesNothingLoaded) {
    const std::string folder = stubFolder(GetParam().folder);
    LoadedSdk sdk(folder);
    ASSERT_TRUE(sdk.loaded()) << folder;
    ThirdLibraryApi table;
    const Outcome outcome = load(table);
    std::string lines = GetParam().lines;
    for (size_t at; (at = lines.find("{F}")) != std::string::npos;) lines.replace(at, 3, folder);
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(outcome.console, pathLines(folder) + lines);
    EXPECT_TRUE(tableIsEmpty(table));
    EXPECT_FALSE(isLoaded(folder + "/libpelix_windows.so"));
    EXPECT_FALSE(isLoaded(folder + "/libQXCanvasImageKelo.so"));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ThirdLibraryLoadFailure,
    ::testing::Values(FailureCase{"no_vFree", "get vFree API error!\n"},
                      FailureCase{"no_native_add", "get native_add API error!\n"},
                      FailureCase{"no_freeData", "get freeData API error!\n"},
                      FailureCase{"no_pelix", "load pelix_windows error!...\npelixPath={F}/libpelix_windows.so\n"},
                      FailureCase{"no_canvas",
                                  "load QXCanvasImageKelo error!...\nQXCanvasImage={F}/libQXCanvasImageKelo.so\n"}));

TEST(ThirdLibraryLoad, ACompleteFolderFillsTheWholeTableAndUnloadsInTheEnd) {
    const std::string folder = stubFolder("complete");
    LoadedSdk sdk(folder);
    ThirdLibraryApi table;
    const Outcome outcome = load(table);
    EXPECT_TRUE(outcome.loaded);
    EXPECT_EQ(outcome.console, pathLines(folder));
#define KV_CHECK_FILLED(name, result, params) EXPECT_NE(table.name, nullptr) << #name;
    KV_PELIX_EXPORTS(KV_CHECK_FILLED)
    KV_QX_EXPORTS(KV_CHECK_FILLED)
    KV_QX_OPTIONAL_EXPORTS(KV_CHECK_FILLED)
#undef KV_CHECK_FILLED
    EXPECT_TRUE(isLoaded(folder + "/libpelix_windows.so"));
    EXPECT_TRUE(isLoaded(folder + "/libQXCanvasImageKelo.so"));
    testing::internal::CaptureStdout();
    table.unloadThirdLibrary();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(tableIsEmpty(table));
    EXPECT_FALSE(isLoaded(folder + "/libpelix_windows.so"));
    EXPECT_FALSE(isLoaded(folder + "/libQXCanvasImageKelo.so"));
}

TEST(ThirdLibraryLoad, AMissingOptionalExportIsNamedButTheLoadSucceeds) {
    const std::string folder = stubFolder("no_qrimage");
    LoadedSdk sdk(folder);
    ThirdLibraryApi table;
    const Outcome outcome = load(table);
    EXPECT_TRUE(outcome.loaded);
    EXPECT_EQ(outcome.console, pathLines(folder) + "get DrawLableQrCodeWithImage API error!\n");
    EXPECT_EQ(table.DrawLableQrCodeWithImage, nullptr);
    EXPECT_NE(table.freeData, nullptr);
    EXPECT_NE(table.vFree, nullptr);
    table.unloadThirdLibrary();
}

TEST(ThirdLibraryLoad, WithoutTheSdkTheProgramsFolderIsSearched) {
    ThirdLibraryApi table;
    const Outcome outcome = load(table);
    const std::string folder = realFolder(KV_TEST_DIR);
    EXPECT_FALSE(outcome.loaded);
    EXPECT_EQ(outcome.console,
              pathLines(folder) + "load pelix_windows error!...\npelixPath=" + folder + "/libpelix_windows.so\n");
}

// ---- the bridge's loading ------------------------------------------------------------------

TEST(BridgeLoad, KeepsACompleteTableLoadsOnceAndUnloadsWithTheBridge) {
    const std::string folder = stubFolder("complete");
    LoadedSdk sdk(folder);
    {
        kvPrinterSdkThirdApi bridge;
        testing::internal::CaptureStdout();
        bridge.loadLibrary();
        testing::internal::GetCapturedStdout();
        ASSERT_NE(bridge.libraryApi, nullptr);
        ThirdLibraryApi* first = bridge.libraryApi.get();
        testing::internal::CaptureStdout();
        bridge.loadLibrary();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(bridge.libraryApi.get(), first);
        EXPECT_EQ(bridge.callDrawApi(drawtest::request("InitDrawingBoard")),
                  answer("InitDrawingBoard", 0, "init draw board success!", 0));
    }
    EXPECT_FALSE(isLoaded(folder + "/libpelix_windows.so"));
    EXPECT_FALSE(isLoaded(folder + "/libQXCanvasImageKelo.so"));
}

TEST(BridgeLoad, AFailedLoadKeepsNoTableAndDrawingIsRefused) {
    LoadedSdk sdk(stubFolder("no_vFree"));
    kvPrinterSdkThirdApi bridge;
    testing::internal::CaptureStdout();
    bridge.loadLibrary();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("get vFree API error!\n"), std::string::npos);
    EXPECT_EQ(bridge.libraryApi, nullptr);
    EXPECT_EQ(bridge.callDrawApi(drawtest::request("InitDrawingBoard", R"({"width":50})")),
              answer("InitDrawingBoard", -1, "please init sdk first!", -1));
}

TEST(BridgeLoad, WithoutTheOptionalExportEveryOtherDrawingWorks) {
    LoadedSdk sdk(stubFolder("no_qrimage"));
    kvPrinterSdkThirdApi bridge;
    testing::internal::CaptureStdout();
    bridge.loadLibrary();
    testing::internal::GetCapturedStdout();
    ASSERT_NE(bridge.libraryApi, nullptr);
    EXPECT_EQ(bridge.callDrawApi(drawtest::request("InitDrawingBoard")),
              answer("InitDrawingBoard", 0, "init draw board success!", 0));
    EXPECT_EQ(bridge.callDrawApi(drawtest::request("DrawLableQrCode")),
              answer("DrawLableQrCode", 0, "DrawLableQrCode success!", 0));
    EXPECT_EQ(bridge.callDrawApi(drawtest::request("DrawLableQrCodeWithImage")),
              answer("DrawLableQrCodeWithImage", -1, "DrawLableQrCodeWithImage not support!", -1));
}

// ---- default fonts folders beside the renderer ---------------------------------------------

// The renderer of a folder, loaded while the object lives, without any printer SDK.
class LoadedRenderer {
public:
    explicit LoadedRenderer(const std::string& folder)
        : handle_(dlopen((folder + "/libpelix_windows.so").c_str(), RTLD_NOW)) {}
    ~LoadedRenderer() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    LoadedRenderer(const LoadedRenderer&) = delete;
    LoadedRenderer& operator=(const LoadedRenderer&) = delete;

private:
    void* handle_;
};

TEST(RendererFontFolder, IsTheRenderersFolderFollowedByFont) {
    const std::string folder = stubFolder("complete");
    LoadedRenderer renderer(folder);
    EXPECT_EQ(rendererFontFolder(), folder + "/font");
}

TEST(RendererFontFolder, SetFontWithoutAFolderRegistersItOnceAndOnlyIt) {
    const std::string folder = stubFolder("complete");
    LoadedRenderer renderer(folder);
    kvPrinterSdkThirdApi bridge;
    bridge.libraryApi = FakeThirdLibrary::makeTable();
    EXPECT_EQ(bridge.callDrawApi(drawtest::request("setFont", "{}")), answer("setFont", 0, "set font ok!", 0));
    ASSERT_EQ(FakeThirdLibrary::instance().calls.size(), 1u);
    EXPECT_EQ(FakeThirdLibrary::instance().calls[0].args[0].asString(), folder + "/font");
    EXPECT_TRUE(bridge.useCustomFont);
    FakeThirdLibrary::instance().reset();
}

TEST(RendererFontFolder, InitSdkWithoutAFolderLogsAndRegistersTheRenderersFolder) {
    const std::string folder = stubFolder("complete");
    LoadedRenderer renderer(folder);
    testing::internal::CaptureStdout();  // the service's own load finds no libraries beside the tests
    cKvPrinterService service{&FakePrinterSdk::load};
    testing::internal::GetCapturedStdout();
    service.thirdApi->libraryApi = FakeThirdLibrary::makeTable();
    LogCapture log;
    const std::optional<std::string> reply = service.answerRequest(R"({"apiName":"initSdk"})");
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, answer("initSdk", 0, "initSdkApi ok!", 0));
    bool logged = false;
    for (const std::string& m : log.messages()) logged |= m == "[INFO]:font path:" + folder + "/font";
    EXPECT_TRUE(logged);
    ASSERT_EQ(FakeThirdLibrary::instance().calls.size(), 1u);
    EXPECT_EQ(FakeThirdLibrary::instance().calls[0].args[0].asString(), folder + "/font");
    FakeThirdLibrary::instance().reset();
}

}  // namespace
