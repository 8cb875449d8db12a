// Any text through base64Decode: at most three bytes for every four characters, and what comes
// out encodes and decodes back to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kvImageGallery/base64.h"
#include "tests/fuzz/fuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<unsigned char> bytes = base64Decode(text);
    kvfuzz::check(bytes.size() <= size / 4 * 3 + 2, "no more bytes than the characters hold");

    const std::string again = base64Encode(bytes.data(), static_cast<unsigned int>(bytes.size()));
    kvfuzz::check(again.size() == (bytes.size() + 2) / 3 * 4, "the encoded length");
    kvfuzz::check(base64Decode(again) == bytes, "encoding and decoding give the bytes back", again);
    return 0;
}
