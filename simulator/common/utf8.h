// Text from clients as valid UTF-8, for the stand-ins that write it as JSON or draw it.
#pragma once

#include <string>
#include <string_view>

namespace kvsim {

// The text with each faulty UTF-8 sequence replaced by one U+FFFD: a byte that starts no
// character, or the longest start of a character that is cut short (so "\xF0\x9F\x98" before an
// "X" is one replacement and the "X" stays). The characters after a fault are all kept.
std::string validUtf8(std::string_view text);
// True when validUtf8 would give the text back unchanged.
bool isValidUtf8(std::string_view text);

}  // namespace kvsim
