// The finished page: turned by the orientation, then written as a PNG file or as packed rows.
#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace kvrender {

// Coverage of a page, one byte a pixel, rows from the top without padding.
struct Coverage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Turns clockwise by 90, 180 or 270 degrees; any other value leaves the page as it is.
Coverage turnPage(Coverage page, int orientation);

// How a page is written as PNG. The default is what the renderer uses, chosen by measurement
// (bench/renderer prints the others beside it): with the coverage as palette indices there is a
// third of the bytes of RGB to filter and compress and nothing to convert; the "up" filter with
// zlib's run-length strategy was the fastest, and its files about 40 % smaller than cairo's
// writer's (whose libpng tries every filter at zlib's level 6), for a fifth of the time or less.
// With the run-length strategy the level makes no difference.
struct PngSettings {
    bool palette = true;  // the 256 shades as a palette and the coverage as indices; else 8-bit RGB
    int filter = PNG_FILTER_UP;  // libpng's filter flags
    int level = 1;               // zlib's compression level
    int strategy = Z_RLE;        // zlib's strategy
};

// The page as a PNG file: paper white, the ink in `colour` (alpha, red, green, blue) laid over it
// in the share of each pixel's coverage. Empty when the encoder fails.
std::optional<std::vector<unsigned char>> encodePng(const Coverage& page, const int colour[4],
                                                    const PngSettings& settings = PngSettings{});

// Packed 1-bit rows, most significant bit first, 1 = ink (coverage of at least half).
std::vector<unsigned char> packRows(const Coverage& page);

}  // namespace kvrender
