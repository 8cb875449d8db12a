// Any text through urlDecode: the result fits the 1023-byte buffer, is valid UTF-8 (the narrow
// encoding here), and decoding in place gives the same result.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kvPrinter/urlDecode.h"
#include "tests/fuzz/fuzzSupport.h"

namespace {

bool isValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    std::string out = "previous contents";
    kvfuzz::check(urlDecode(in, out) == 0, "urlDecode returns 0");
    kvfuzz::check(out.size() <= 1023, "the result fits its buffer", std::to_string(out.size()));
    kvfuzz::check(isValidUtf8(out), "the result is valid UTF-8", out);
    kvfuzz::check(out.find('\0') == std::string::npos, "the result holds no zero byte");

    std::string same = in;
    urlDecode(same, same);
    kvfuzz::check(same == out, "decoding in place gives the same result");
    return 0;
}
