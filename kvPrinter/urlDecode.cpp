#include "kvPrinter/urlDecode.h"

#include <array>
#include <cstring>
#include <string_view>

#include "platform/platform.h"

namespace {

constexpr size_t kBufferSize = 1024;  // at most 1023 bytes and the terminating zero

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class Escape { Matched, NotEscape, Exhausted };

// Reads an escape at text[at] the way the scanf format "%%%2X%n" does: a '%', white space
// skipped, then at most two characters of which an optional sign is one, at least one of them a
// hexadecimal digit. On a match, byte and next are set.
Escape readEscape(const char* text, size_t length, size_t at, unsigned char& byte, size_t& next) {
    if (text[at] != '%') return Escape::NotEscape;
    size_t i = at + 1;
    while (i < length && isSpace(text[i])) ++i;
    if (i >= length) return Escape::Exhausted;
    int width = 2;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
        --width;
    }
    unsigned value = 0;
    int digits = 0;
    for (; width > 0 && i < length && hexValue(text[i]) >= 0; --width, ++i, ++digits) {
        value = value * 16 + static_cast<unsigned>(hexValue(text[i]));
    }
    if (digits == 0) return Escape::NotEscape;
    byte = static_cast<unsigned char>(negative ? 0u - value : value);
    next = i;
    return Escape::Matched;
}

// Cuts UTF-8 text to at most limit bytes without splitting a character.
std::string_view cutToCharacters(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

int urlDecode(const std::string& in, std::string& out) {
    std::array<unsigned char, kBufferSize> decoded{};
    size_t count = 0;

    const char* text = in.c_str();
    const size_t length = std::strlen(text);  // a zero byte inside the text ends it
    for (size_t at = 0; at < length && count < kBufferSize - 1;) {
        unsigned char byte = 0;
        size_t next = 0;
        const Escape escape = readEscape(text, length, at, byte, next);
        if (escape == Escape::Exhausted) break;  // a lone '%' at the end is dropped
        if (escape == Escape::Matched) {
            decoded[count++] = byte;
            at = next;
        } else {
            decoded[count++] = static_cast<unsigned char>(text[at]);
            ++at;
        }
    }

    // A decoded zero byte (%00) ends the text there.
    const auto* bytes = reinterpret_cast<const char*>(decoded.data());
    const std::string narrow = platform::utf8ToNarrow(std::string_view(bytes, std::strlen(bytes)));
    // Replacement characters may make the text longer than the decoded bytes; it is cut to the
    // buffer at a character boundary rather than written past it.
    out.assign(cutToCharacters(narrow, kBufferSize - 1));
    return 0;
}
