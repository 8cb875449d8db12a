#include "kvImageGallery/thirdLibraryApi.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "sdk/kvPrinterSdk.h"

namespace {

void printLine(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// The folder of the loaded printer SDK, with its final separator. Without the SDK the program's
// own file stands for it, as the module lookup of the platform the service was made for does.
std::string sdkFolder() {
    void* sdk = platform::loadedModule(kPrinterSdkFileName);
    const std::string file = sdk != nullptr ? platform::moduleFileName(sdk) : platform::programFileName();
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

template <typename Function>
bool resolve(void* module, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(platform::findSymbol(module, name));
    if (slot == nullptr) printLine(std::string("get ") + name + " API error!");
    return slot != nullptr;
}

}  // namespace

bool ThirdLibraryApi::loadThirdLibrary() {
    const std::string folder = sdkFolder();
    const std::string pelixPath = folder + kPelixFileName;
    const std::string qxPath = folder + kQxCanvasFileName;
    printLine("QXCanvasImage=" + qxPath);
    printLine("pelixPath=" + pelixPath);

    pelixModule = platform::loadLibraryFromPath(pelixPath);
    qxModule = platform::loadLibraryFromPath(qxPath);

    // All or nothing: at the first failure both libraries are released and the table emptied.
    const auto fail = [this] {
        if (pelixModule != nullptr) platform::freeLibrary(pelixModule);
        if (qxModule != nullptr) platform::freeLibrary(qxModule);
        *this = ThirdLibraryApi{};
        return false;
    };

    if (pelixModule == nullptr) {
        printLine("load pelix_windows error!...");
        printLine("pelixPath=" + pelixPath);
        return fail();
    }
#define KV_RESOLVE_PELIX(name, result, params) \
    if (!resolve(pelixModule, #name, this->name)) return fail();
    KV_PELIX_EXPORTS(KV_RESOLVE_PELIX)
#undef KV_RESOLVE_PELIX

    if (qxModule == nullptr) {
        printLine("load QXCanvasImageKelo error!...");
        printLine("QXCanvasImage=" + qxPath);
        return fail();
    }
#define KV_RESOLVE_QX(name, result, params) \
    if (!resolve(qxModule, #name, this->name)) return fail();
    KV_QX_EXPORTS(KV_RESOLVE_QX)
#undef KV_RESOLVE_QX

    // Optional: its console line is printed, its entry stays empty and the load still succeeds.
#define KV_RESOLVE_QX_OPTIONAL(name, result, params) resolve(qxModule, #name, this->name);
    KV_QX_OPTIONAL_EXPORTS(KV_RESOLVE_QX_OPTIONAL)
#undef KV_RESOLVE_QX_OPTIONAL
    return true;
}

void ThirdLibraryApi::unloadThirdLibrary() {
    bool pelixReleased = true;
    if (pelixModule != nullptr && !platform::freeLibrary(pelixModule)) {
        printLine(std::string("unload ") + kPelixFileName + " error.");
        pelixReleased = false;
    }
    if (pelixReleased && qxModule != nullptr && !platform::freeLibrary(qxModule)) {
        printLine(std::string("unload ") + kQxCanvasFileName + " error.");
    }
    *this = ThirdLibraryApi{};
}
