// Pictures that labels carry (base64 PNG, JPEG, GIF, BMP or ICO), decoded into coverage: how much
// ink each pixel puts on the paper. PNG, JPEG and GIF are read by Debian's libpng, libjpeg-turbo
// and giflib, which are maintained for untrusted input and fuzzed continuously; BMP and ICO by
// the bounded reader of bitmaps.cpp. Nothing here needs cairo, so the fuzz target links it alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kvrender {

// More pixels than this are not decoded: the coverage alone would take 40 MB.
inline constexpr int64_t kMaxPicturePixels = 40'000'000;

// A decoded picture as coverage: 255 - grey level, laid over white where it is transparent.
// Rows are `stride` bytes apart, as cairo's A8 surfaces want them.
struct Picture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<unsigned char> coverage;
};

std::vector<unsigned char> decodeBase64(std::string_view text);
// Empty when the text is no picture that decodes whole, or the picture is too large.
std::optional<Picture> decodePicture(std::string_view base64);
// The same for the file's bytes.
std::optional<Picture> decodePictureBytes(const unsigned char* data, size_t size);

}  // namespace kvrender
