#include "kvPrinter/printerSdkBinding.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

PrinterSdkBinding printerSdk;

namespace {

// Two exports are named differently in their console line.
const char* consoleNameOf(const char* exportName) {
    if (std::strcmp(exportName, "initSdk") == 0) return "InitSdk";
    if (std::strcmp(exportName, "getRfidPararm") == 0) return "getRfidParam";
    return exportName;
}

template <typename Function>
bool resolve(void* module, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(platform::findSymbol(module, name));
    return slot != nullptr;
}

}  // namespace

bool loadPrinterSdk() {
    return loadPrinterSdk(kPrinterSdkFileName);
}

bool loadPrinterSdk(const std::string& libraryName) {
    void* module = platform::loadLibrary(libraryName);
    if (module == nullptr) return false;

    PrinterSdkBinding table;
    table.module = module;
#define KV_RESOLVE_SDK_EXPORT(name, result, params)                        \
    if (!resolve(module, #name, table.name)) {                             \
        std::printf("get %s API error!\n", consoleNameOf(#name));          \
        std::fflush(stdout);                                               \
        platform::freeLibrary(module);                                     \
        return false;                                                      \
    }
    KV_PRINTER_SDK_EXPORTS(KV_RESOLVE_SDK_EXPORT)
#undef KV_RESOLVE_SDK_EXPORT

    // All or nothing: the process-wide table changes only once every export was found.
    printerSdk = table;
    return true;
}

void unloadPrinterSdk() {
    if (printerSdk.module != nullptr) platform::freeLibrary(printerSdk.module);
    printerSdk = PrinterSdkBinding{};
}

bool printerSdkLoaded() {
    return printerSdk.module != nullptr;
}

std::mutex& printerSdkCallMutex() {
    static std::mutex mutex;
    return mutex;
}
