// The finished page: turned by the orientation, then written as a PNG file or as packed rows.
#pragma once

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

// The page as a PNG file: paper white, the ink in `colour` (alpha, red, green, blue) laid over it
// in the share of each pixel's coverage. Empty when the encoder fails.
std::optional<std::vector<unsigned char>> encodePng(const Coverage& page, const int colour[4]);

// Packed 1-bit rows, most significant bit first, 1 = ink (coverage of at least half).
std::vector<unsigned char> packRows(const Coverage& page);

}  // namespace kvrender
