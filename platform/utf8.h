// UTF-8 made whole: one implementation for the service and the stand-in libraries, which compile
// it into themselves with their own symbols hidden, so that both repair a text the same way.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The text with each faulty UTF-8 sequence replaced by one U+FFFD: a byte that starts no
// character, or the longest start of a character that is cut short (so "\xF0\x9F\x98" before an
// "X" is one replacement and the "X" stays). The characters after a fault are all kept.
std::string validUtf8(std::string_view text);
// True when validUtf8 would give the text back unchanged.
bool isValidUtf8(std::string_view text);

// Converts UTF-8 to the narrow encoding of file names here, which is UTF-8 itself: each byte of
// a faulty sequence becomes one U+FFFD, as the Windows conversion does without flags.
std::string utf8ToNarrow(std::string_view utf8);

}  // namespace platform
