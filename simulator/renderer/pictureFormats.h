// The picture readers of each format, and the coverage they write (pictures.cpp, bitmaps.cpp).
#pragma once

#include "simulator/renderer/pictures.h"

#include <cstddef>
#include <cstdint>

namespace kvrender::formats {

struct Bytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// The coverage of a picture being decoded, allocated once its size has passed the limits.
class CoverageRows {
public:
    CoverageRows(Picture& picture, int64_t maxPixels) : picture_(picture), maxPixels_(maxPixels) {}
    // False for a size of no pixels or of too many.
    bool start(int64_t width, int64_t height);
    bool fits(int64_t width, int64_t height) const;
    unsigned char* row(int y) { return picture_.coverage.data() + static_cast<size_t>(y) * picture_.stride; }
    int width() const { return picture_.width; }
    int height() const { return picture_.height; }

private:
    Picture& picture_;
    int64_t maxPixels_;
};

// The grey level of a colour as the renderer has always taken it (0.30 red, 0.59 green, 0.11 blue).
inline int greyOf(int red, int green, int blue) { return (red * 77 + green * 150 + blue * 29) >> 8; }
// Ink of a grey level laid over white paper by its opacity.
inline unsigned char coverageOf(int grey, int alpha) {
    const int level = (grey * alpha + 255 * (255 - alpha) + 127) / 255;
    return static_cast<unsigned char>(255 - level);
}

// Each reader fills the coverage and answers true only for a picture that decoded whole.
bool readPng(Bytes file, CoverageRows& out);
bool readJpeg(Bytes file, CoverageRows& out);
bool readGif(Bytes file, CoverageRows& out);
bool readBmp(Bytes file, CoverageRows& out);
bool readIco(Bytes file, CoverageRows& out);

}  // namespace kvrender::formats
