// Any text as label JSON through the renderer stand-in's generateDataFromPrintJson, as the page
// commit renders a client's "printData": the page comes back with its packed rows, or nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzzSupport.h"

namespace {

kvPrinterSdkThirdApi* bridge = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kvfuzz::quietLogging();
    bridge = kvfuzz::realBridge().release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string label(reinterpret_cast<const char*>(data), size);
    const float margin[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const int ink[4] = {255, 0, 0, 0};
    unsigned char zeroBlock[8] = {};
    RenderedImage* page = bridge->generateDataFromPrintJson(label.c_str(), 0, 8.0f, 8.0f, margin, zeroBlock, 0, ink);
    if (page != nullptr) {
        // Mode 0: ceil(width / 8) bytes a row.
        const int64_t rowBytes = (static_cast<int64_t>(page->width) + 7) / 8;
        kvfuzz::check(page->width >= 0 && page->height >= 0, "a page size is not negative", label);
        kvfuzz::check(page->size == rowBytes * page->height, "the page holds its packed rows", label);
        volatile unsigned char sum = 0;
        for (int32_t i = 0; i < page->size; i += 97) sum = sum + page->data[i];
        bridge->releaseImage(page);
    }
    return 0;
}
