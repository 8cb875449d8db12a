// Any bytes as a picture for the renderer's readers (PNG, JPEG, GIF, BMP and ICO, told apart by
// their first bytes; the seeds hold each format and its variants): a picture comes back whole
// and within the limits, or nothing does.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "simulator/renderer/pictures.h"
#include "tests/fuzz/fuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<kvrender::Picture> picture = kvrender::decodePictureBytes(data, size);
    if (!picture) return 0;
    const std::string detail = std::to_string(picture->width) + " x " + std::to_string(picture->height);
    kvfuzz::check(picture->width > 0 && picture->height > 0, "a picture has pixels", detail);
    kvfuzz::check(static_cast<int64_t>(picture->width) * picture->height <= kvrender::kMaxPicturePixels,
                  "a picture is within the pixel limit", detail);
    kvfuzz::check(picture->stride >= picture->width && picture->stride % 4 == 0, "rows as cairo lays them out", detail);
    kvfuzz::check(picture->coverage.size() == static_cast<size_t>(picture->stride) * picture->height,
                  "the coverage holds every row", detail);
    // Every row is read, so a coverage that was not written would show here under the sanitizers.
    volatile unsigned sum = 0;
    for (size_t i = 0; i < picture->coverage.size(); i += 61) sum = sum + picture->coverage[i];
    return 0;
}
