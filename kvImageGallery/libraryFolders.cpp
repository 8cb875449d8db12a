#include "kvImageGallery/libraryFolders.h"

#include "platform/platform.h"
#include "sdk/thirdLibrary.h"

std::string rendererFontFolder() {
    void* module = platform::loadedModule(kPelixFileName);
    if (module == nullptr) return {};
    // The folder keeps its final separator. Cutting at the last separator, rather than removing
    // the library's name wherever it first occurs, also holds when the name reached through a
    // link differs from the file's own name.
    const std::string file = platform::moduleFileName(module);
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos) return {};
    return file.substr(0, slash + 1) + "font";
}

std::string programFontFolder() {
    if (platform::programFileName().empty()) return {};
    return platform::programFolder() + "/font";
}
