#include "platform/utf8.h"

namespace platform {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// How many bytes of the character starting at text[i] are as they should be (all of them for a
// whole character), and whether that is all of it.
struct Sequence {
    size_t good = 0;
    bool whole = false;
};

Sequence sequenceAt(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {1, true};
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return {1, false};
    }
    size_t good = 1;
    while (good < length && i + good < text.size()) {
        const unsigned char next = byte(i + good);
        const bool fits = good == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!fits) break;
        ++good;
    }
    return {good, good == length};
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Sequence sequence = sequenceAt(text, i);
        if (!sequence.whole) return false;
        i += sequence.good;
    }
    return true;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t run = 0;  // start of the valid bytes not yet copied
    size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Sequence sequence = sequenceAt(text, i);
        if (!sequence.whole) {
            out.append(text.substr(run, i - run));
            out.append(kReplacement);
            run = i + sequence.good;
        }
        i += sequence.good;
    }
    out.append(text.substr(run));
    return out;
}

std::string utf8ToNarrow(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const Sequence sequence = sequenceAt(utf8, i);
        if (sequence.whole) {
            out.append(utf8.substr(i, sequence.good));
            i += sequence.good;
        } else {
            out.append(kReplacement);
            ++i;
        }
    }
    return out;
}

}  // namespace platform
