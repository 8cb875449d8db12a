// The fixed-width text fields of the printer SDK's records.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// The bytes of a field up to its zero byte; a field that the SDK filled to the brim without one
// is not read past its end.
template <size_t Width>
std::string fieldText(const char (&field)[Width]) {
    return std::string(field, strnlen(field, Width));
}

// Zero-filled, then at most Width - 1 bytes of the text, so the field stays zero-terminated.
template <size_t Width>
void fillField(char (&field)[Width], std::string_view text) {
    std::memset(field, 0, Width);
    std::memcpy(field, text.data(), std::min(text.size(), Width - 1));
}
