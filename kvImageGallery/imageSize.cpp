#include "kvImageGallery/imageSize.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "kvImageGallery/base64.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Readers of header fields; every caller has checked that the bytes lie within the data.
uint32_t le16(const Bytes& d, size_t at) { return d[at] | (d[at + 1] << 8); }
uint32_t be16(const Bytes& d, size_t at) { return (d[at] << 8) | d[at + 1]; }
uint32_t le32(const Bytes& d, size_t at) {
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}
uint32_t be32(const Bytes& d, size_t at) {
    return (static_cast<uint32_t>(d[at]) << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3];
}

bool startsWith(const Bytes& d, const char* text, size_t length) {
    return d.size() >= length && std::memcmp(d.data(), text, length) == 0;
}

bool hasPngSignature(const Bytes& d) {
    static const unsigned char signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    return d.size() >= 8 && std::memcmp(d.data(), signature, 8) == 0;
}

// What a look at the first bytes found: a size, none, or that more of the bytes must be read.
enum class Found { size, noSize, moreBytes };

// Walks the JPEG segments from offset 2 to the first SOF0 to SOF3 frame header. `complete`: the
// bytes are all there are, so a read beyond them finds no size rather than asking for more.
Found jpegSize(const Bytes& d, bool complete, int& width, int& height) {
    const size_t n = d.size();
    const Found beyond = complete ? Found::noSize : Found::moreBytes;
    size_t i = 2;
    while (i < n) {
        if (d[i] == 0x00 || d[i] == 0xDA) return Found::noSize;
        while (i < n && d[i] != 0xFF) ++i;
        while (i < n && d[i] == 0xFF) ++i;
        if (i >= n) return beyond;
        const size_t q = i;
        const unsigned char marker = d[q];
        if (marker >= 0xC0 && marker <= 0xC3) {
            if (q + 7 >= n) return beyond;
            height = static_cast<int>(be16(d, q + 4));
            width = static_cast<int>(be16(d, q + 6));
            return Found::size;
        }
        if (q + 2 >= n) return beyond;
        // The length counts its own two bytes, so the next marker is never behind this one.
        i = q + 1 + be16(d, q + 1);
    }
    return beyond;
}

// Every format but JPEG reads only from its first kHeaderBytes bytes.
constexpr size_t kHeaderBytes = 26;

// Sets the size from the first bytes of the picture, `complete` as for jpegSize; false when more
// of the bytes must be read to tell.
bool sizeFromHeader(const Bytes& d, bool complete, int* height, int* width) {
    // d holds the first kHeaderBytes bytes at least, or all of them when there are fewer, so each
    // test of the length below gives what it gives on the whole picture.
    const size_t n = d.size();

    // The first signature that matches decides, whether or not it then yields a size.
    if (n >= 10 && (startsWith(d, "GIF87a", 6) || startsWith(d, "GIF89a", 6))) {
        *width = static_cast<int>(le16(d, 6));
        *height = static_cast<int>(le16(d, 8));
        return true;
    }
    if (n >= 24 && hasPngSignature(d) && std::memcmp(&d[12], "IHDR", 4) == 0) {
        *width = static_cast<int>(be32(d, 16));
        *height = static_cast<int>(be32(d, 20));
        return true;
    }
    if (n >= 16 && hasPngSignature(d)) {
        *width = static_cast<int>(be32(d, 8));
        *height = static_cast<int>(be32(d, 12));
        return true;
    }
    if (n >= 2 && d[0] == 0xFF && d[1] == 0xD8) {
        int w = 0, h = 0;
        const Found found = jpegSize(d, complete, w, h);
        if (found == Found::size) {
            *width = w;
            *height = h;
        }
        return found != Found::moreBytes;
    }
    if (n >= 26 && d[0] == 'B' && d[1] == 'M') {
        if (d[14] == 12) {
            *width = static_cast<int>(le16(d, 18));
            *height = static_cast<int>(le16(d, 20));
        } else if (d[14] >= 40) {
            const int32_t h = static_cast<int32_t>(le32(d, 22));
            // The most negative height has no positive counterpart: no size rather than overflow.
            if (h == std::numeric_limits<int32_t>::min()) return true;
            *width = static_cast<int32_t>(le32(d, 18));
            *height = h < 0 ? -h : h;
        }
        return true;
    }
    if (n >= 8 && le16(d, 0) == 0 && le16(d, 2) == 1) {
        if (le16(d, 4) > 1) {
            std::printf("this is a muti-ico file.");
            std::fflush(stdout);
            return true;
        }
        *width = d[6];
        *height = d[7];
    }
    return true;
}

}  // namespace

void getImageSizeFromBase64(const char* image, int* height, int* width) {
    if (image == nullptr || height == nullptr || width == nullptr) return;
    // Only the bytes that the header needs are decoded: the picture may be megabytes, and its
    // size stands in its first bytes (a JPEG's after the segments before its frame header, which
    // are read as far as the walk goes).
    for (size_t window = 4 * kHeaderBytes;; window *= 4) {
        const Bytes d = base64DecodePrefix(image, window);
        if (sizeFromHeader(d, d.size() < window, height, width)) return;
    }
}
