#include "kvImageGallery/base64.h"

namespace {

// Value of a base64 character, or -1 for anything outside the alphabet.
int valueOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64Encode(const unsigned char* data, unsigned int length) {
    std::string out;
    if (data == nullptr || length == 0) return out;
    out.reserve((static_cast<size_t>(length) + 2) / 3 * 4);
    unsigned int i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
        out += base64Chars[b0 >> 2];
        out += base64Chars[((b0 & 3) << 4) + (b1 >> 4)];
        out += base64Chars[((b1 & 15) << 2) + (b2 >> 6)];
        out += base64Chars[b2 & 63];
    }
    const unsigned int rest = length - i;
    if (rest > 0) {
        const unsigned b0 = data[i];
        const unsigned b1 = rest == 2 ? data[i + 1] : 0;
        out += base64Chars[b0 >> 2];
        out += base64Chars[((b0 & 3) << 4) + (b1 >> 4)];
        out += rest == 2 ? base64Chars[(b1 & 15) << 2] : '=';
        out += '=';
    }
    return out;
}

std::vector<unsigned char> base64Decode(const std::string& text) {
    // The zero byte that ends every std::string lies outside the alphabet, like any inner one.
    return base64DecodePrefix(text.c_str(), text.size() / 4 * 3 + 2);
}

std::vector<unsigned char> base64DecodePrefix(const char* text, size_t maxBytes) {
    std::vector<unsigned char> out;
    if (text == nullptr || maxBytes == 0) return out;
    out.reserve(maxBytes);
    int group[4];
    int k = 0;
    for (const char* p = text; out.size() < maxBytes; ++p) {
        const int value = valueOf(static_cast<unsigned char>(*p));
        if (value < 0) break;  // '=' and every other character end the base64 part
        group[k++] = value;
        if (k == 4) {
            out.push_back(static_cast<unsigned char>((group[0] << 2) + ((group[1] & 0x30) >> 4)));
            out.push_back(static_cast<unsigned char>(((group[1] & 15) << 4) + ((group[2] & 0x3C) >> 2)));
            out.push_back(static_cast<unsigned char>(((group[2] & 3) << 6) + group[3]));
            k = 0;
        }
    }
    if (k >= 2) out.push_back(static_cast<unsigned char>((group[0] << 2) + ((group[1] & 0x30) >> 4)));
    if (k == 3) out.push_back(static_cast<unsigned char>(((group[1] & 15) << 4) + ((group[2] & 0x3C) >> 2)));
    if (out.size() > maxBytes) out.resize(maxBytes);
    return out;
}
