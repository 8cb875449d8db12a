// BMP and ICO, read here: both are a header, a palette and rows of pixels, simple enough to read
// with every offset checked against the bytes there are. Bitmaps with the 12-byte header and
// with the larger ones (40 to 124 bytes), bottom-up and top-down, of 1, 4, 8, 16, 24 or 32 bits a
// pixel, uncompressed or with bit fields; icons holding a bitmap or a PNG. Run-length compressed
// bitmaps are not read.
#include "simulator/renderer/pictureFormats.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace kvrender::formats {

namespace {

constexpr uint32_t kUncompressed = 0;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

uint32_t le16(const unsigned char* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel of a pixel given by a bit mask, scaled to 0..255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t top = 0;  // the largest value under the mask

    static Channel of(uint32_t mask) {
        Channel channel;
        if (mask == 0) return channel;
        channel.mask = mask;
        channel.shift = std::countr_zero(mask);
        channel.top = mask >> channel.shift;
        return channel;
    }
    int read(uint32_t pixel) const {
        if (top == 0) return 0;
        return static_cast<int>((static_cast<uint64_t>((pixel & mask) >> shift) * 255 + top / 2) / top);
    }
};

// What an info header says about the pixels after it.
struct Dib {
    int64_t width = 0;
    int64_t height = 0;  // rows in the data
    bool topDown = false;
    int bits = 0;
    bool fields = false;  // the pixel's colours come through the masks
    Channel red, green, blue, alpha;
    std::vector<uint32_t> palette;  // 0xRRGGBB
    size_t end = 0;                 // bytes from the header's start to the end of the palette
};

// Reads an info header at the start of `bytes` (which run up to where the pixels start, for a
// file, or to the end of the icon's data). False for anything it does not know.
bool readHeader(Bytes bytes, Dib& dib) {
    if (bytes.size < 12) return false;
    const unsigned char* h = bytes.data;
    const uint32_t headerSize = le32(h);
    if (headerSize < 12 || headerSize > bytes.size) return false;
    uint32_t compression = kUncompressed;
    uint32_t colours = 0;
    size_t entry = 4;  // palette entry: blue, green, red, unused
    if (headerSize == 12) {
        dib.width = le16(h + 4);
        dib.height = le16(h + 6);
        if (le16(h + 8) != 1) return false;
        dib.bits = static_cast<int>(le16(h + 10));
        entry = 3;
    } else if (headerSize >= 40) {
        dib.width = static_cast<int32_t>(le32(h + 4));
        const int32_t height = static_cast<int32_t>(le32(h + 8));
        if (height == INT32_MIN) return false;
        dib.topDown = height < 0;
        dib.height = height < 0 ? -static_cast<int64_t>(height) : height;
        if (le16(h + 12) != 1) return false;
        dib.bits = static_cast<int>(le16(h + 14));
        compression = le32(h + 16);
        colours = le32(h + 32);
    } else {
        return false;
    }
    size_t at = headerSize;
    switch (dib.bits) {
        case 1:
        case 4:
        case 8:
        case 24:
            if (compression != kUncompressed) return false;
            break;
        case 16:
        case 32:
            if (compression != kUncompressed && compression != kBitFields && compression != kAlphaBitFields) return false;
            dib.fields = true;
            if (compression == kUncompressed) {
                // 5 bits a colour in 16 bits; blue, green, red and alpha bytes in 32.
                dib.red = Channel::of(dib.bits == 16 ? 0x7C00 : 0xFF0000);
                dib.green = Channel::of(dib.bits == 16 ? 0x03E0 : 0x00FF00);
                dib.blue = Channel::of(dib.bits == 16 ? 0x001F : 0x0000FF);
                if (dib.bits == 32) dib.alpha = Channel::of(0xFF000000u);
            } else {
                // The masks stand in the larger headers, or follow the 40-byte one.
                const size_t count = compression == kAlphaBitFields || headerSize >= 56 ? 4 : 3;
                const size_t masksAt = headerSize >= 52 ? 40 : headerSize;
                if (masksAt + 4 * count > bytes.size) return false;
                dib.red = Channel::of(le32(h + masksAt));
                dib.green = Channel::of(le32(h + masksAt + 4));
                dib.blue = Channel::of(le32(h + masksAt + 8));
                if (count == 4) dib.alpha = Channel::of(le32(h + masksAt + 12));
                if (masksAt == headerSize) at += 4 * count;
            }
            break;
        default:
            return false;
    }
    if (dib.bits <= 8) {
        size_t count = colours == 0 || colours > (1u << dib.bits) ? (1u << dib.bits) : colours;
        // A palette that runs into the pixels is cut where they start.
        count = std::min(count, (bytes.size - at) / entry);
        dib.palette.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const unsigned char* c = h + at + i * entry;
            dib.palette[i] = (static_cast<uint32_t>(c[2]) << 16) | (static_cast<uint32_t>(c[1]) << 8) | c[0];
        }
        at += count * entry;
    }
    dib.end = at;
    return true;
}

uint64_t rowBytes(int64_t width, int bits) { return (static_cast<uint64_t>(width) * bits + 31) / 32 * 4; }

// The colour of the pixel at x of a row, as 0xAARRGGBB; alpha only when `withAlpha`.
uint32_t pixelAt(const Dib& dib, const unsigned char* row, int64_t x, bool withAlpha) {
    uint32_t rgb = 0;
    int alpha = 255;
    if (dib.bits <= 8) {
        const uint64_t bit = static_cast<uint64_t>(x) * dib.bits;
        const unsigned shift = 8 - dib.bits - static_cast<unsigned>(bit % 8);
        const uint32_t index = (row[bit / 8] >> shift) & ((1u << dib.bits) - 1);
        rgb = index < dib.palette.size() ? dib.palette[index] : 0;  // beyond the palette: black
    } else if (dib.bits == 24) {
        const unsigned char* p = row + x * 3;
        rgb = (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
    } else {
        const uint32_t value = dib.bits == 16 ? le16(row + x * 2) : le32(row + x * 4);
        rgb = (static_cast<uint32_t>(dib.red.read(value)) << 16) | (static_cast<uint32_t>(dib.green.read(value)) << 8) |
              static_cast<uint32_t>(dib.blue.read(value));
        if (withAlpha) alpha = dib.alpha.read(value);
    }
    return (static_cast<uint32_t>(alpha) << 24) | rgb;
}

unsigned char coverageOfPixel(uint32_t argb) {
    return coverageOf(greyOf((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF), static_cast<int>(argb >> 24));
}

// Whether any pixel has an alpha other than 0: files that write 0 everywhere mean no alpha.
bool anyAlpha(const Dib& dib, const unsigned char* pixels, uint64_t stride) {
    if (dib.alpha.mask == 0) return false;
    for (int64_t r = 0; r < dib.height; ++r) {
        const unsigned char* row = pixels + r * stride;
        for (int64_t x = 0; x < dib.width; ++x) {
            if ((pixelAt(dib, row, x, true) >> 24) != 0) return true;
        }
    }
    return false;
}

// The rows of a bitmap (`height` of them) into the coverage; with a mask of the icon's AND
// bits, set bits are transparent. The caller has checked that every row is there.
void readRows(const Dib& dib, int64_t height, const unsigned char* pixels, const unsigned char* andMask,
              CoverageRows& out) {
    const uint64_t stride = rowBytes(dib.width, dib.bits);
    const uint64_t maskStride = rowBytes(dib.width, 1);
    const bool withAlpha = anyAlpha(dib, pixels, stride);
    for (int64_t r = 0; r < height; ++r) {
        const int64_t y = dib.topDown ? r : height - 1 - r;
        const unsigned char* row = pixels + r * stride;
        const unsigned char* mask = andMask != nullptr && !withAlpha ? andMask + r * maskStride : nullptr;
        unsigned char* cover = out.row(static_cast<int>(y));
        for (int64_t x = 0; x < dib.width; ++x) {
            if (mask != nullptr && ((mask[x / 8] >> (7 - x % 8)) & 1)) continue;  // paper
            cover[x] = coverageOfPixel(pixelAt(dib, row, x, withAlpha));
        }
    }
}

}  // namespace

bool readBmp(Bytes file, CoverageRows& out) {
    if (file.size < 14 + 12) return false;
    const uint32_t offset = le32(file.data + 10);
    if (offset < 14 || offset > file.size) return false;
    Dib dib;
    // The header and palette lie between the file header and the pixels.
    if (!readHeader(Bytes{file.data + 14, offset - 14}, dib)) return false;
    if (!out.fits(dib.width, dib.height)) return false;
    const uint64_t needed = rowBytes(dib.width, dib.bits) * static_cast<uint64_t>(dib.height);
    if (needed > file.size - offset) return false;  // cut short
    if (!out.start(dib.width, dib.height)) return false;
    readRows(dib, dib.height, file.data + offset, nullptr, out);
    return true;
}

// The icon's first image, as the size of the icon is read from its first entry.
bool readIco(Bytes file, CoverageRows& out) {
    if (file.size < 6 + 16 || le16(file.data + 2) != 1 || le16(file.data + 4) == 0) return false;
    const unsigned char* entry = file.data + 6;
    const uint32_t length = le32(entry + 8);
    const uint32_t offset = le32(entry + 12);
    if (offset > file.size || length > file.size - offset) return false;
    const Bytes image{file.data + offset, length};
    if (image.size >= 8 && std::memcmp(image.data, "\x89PNG\r\n\x1a\n", 8) == 0) return readPng(image, out);

    Dib dib;
    if (!readHeader(image, dib) || dib.topDown || dib.height % 2 != 0) return false;
    // The header counts the rows of the colours and of the AND mask after them.
    const int64_t height = dib.height / 2;
    if (!out.fits(dib.width, height)) return false;
    const uint64_t colourBytes = rowBytes(dib.width, dib.bits) * static_cast<uint64_t>(height);
    const uint64_t maskBytes = rowBytes(dib.width, 1) * static_cast<uint64_t>(height);
    if (colourBytes + maskBytes > image.size - dib.end) return false;  // cut short
    if (!out.start(dib.width, height)) return false;
    const unsigned char* pixels = image.data + dib.end;
    Dib rows = dib;
    rows.height = height;
    readRows(rows, height, pixels, pixels + colourBytes, out);
    return true;
}

}  // namespace kvrender::formats
