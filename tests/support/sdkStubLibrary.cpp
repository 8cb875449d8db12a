// A small stand-in for the printer SDK with all 72 exports, for the loader's tests. The build
// makes variants of it with one export hidden by a version script. Nothing here is ever called.
#include "sdk/kvPrinterSdk.h"

#define KV_STUB_EXPORT(name, result, params) \
    __attribute__((visibility("default"))) result name params { return result(); }

extern "C" {
KV_PRINTER_SDK_EXPORTS(KV_STUB_EXPORT)
}
