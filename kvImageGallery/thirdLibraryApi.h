// The table of the two rendering libraries' exports, filled all or nothing by loadThirdLibrary.
#pragma once

#include "sdk/thirdLibrary.h"

struct ThirdLibraryApi {
    void* pelixModule = nullptr;
    void* qxModule = nullptr;

#define KV_THIRD_TABLE_ENTRY(name, result, params) result(*name) params = nullptr;
    KV_PELIX_EXPORTS(KV_THIRD_TABLE_ENTRY)
    KV_QX_EXPORTS(KV_THIRD_TABLE_ENTRY)
    KV_QX_OPTIONAL_EXPORTS(KV_THIRD_TABLE_ENTRY)
#undef KV_THIRD_TABLE_ENTRY

    // Loads both libraries from the folder of the loaded printer SDK and resolves their exports;
    // true when both libraries and every required export were found.
    bool loadThirdLibrary();
    // Releases the libraries, renderer first (the canvas library only when that succeeded).
    void unloadThirdLibrary();
};
