// Any bytes as a picture for getImageSizeFromBase64: once as base64 of the bytes (so that the
// fuzzer works on the image headers themselves) and once as the text itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kvImageGallery/base64.h"
#include "kvImageGallery/imageSize.h"
#include "tests/fuzz/fuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string encoded = base64Encode(data, static_cast<unsigned int>(size));
    // Both sizes are set or neither: a size that was set comes out the same whatever it held before.
    int height = -1, width = -1, height2 = -2, width2 = -2;
    getImageSizeFromBase64(encoded.c_str(), &height, &width);
    getImageSizeFromBase64(encoded.c_str(), &height2, &width2);
    kvfuzz::check((height == height2) == (width == width2), "both sizes or none");

    const std::string text(reinterpret_cast<const char*>(data), size);
    height = 0;
    width = 0;
    getImageSizeFromBase64(text.c_str(), &height, &width);
    return 0;
}
