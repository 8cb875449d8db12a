#include "simulator/renderer/output.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

namespace kvrender {

Coverage turnPage(Coverage page, int orientation) {
    if (orientation != 90 && orientation != 180 && orientation != 270) return page;
    const int w = page.width;
    const int h = page.height;
    Coverage turned;
    turned.pixels.resize(page.pixels.size());
    const unsigned char* src = page.pixels.data();
    unsigned char* dst = turned.pixels.data();
    if (orientation == 180) {
        turned.width = w;
        turned.height = h;
        std::reverse_copy(page.pixels.begin(), page.pixels.end(), turned.pixels.begin());
        return turned;
    }
    turned.width = h;
    turned.height = w;
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = src + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            // Clockwise: the source's left column becomes the top row, read from the bottom up.
            const size_t tx = orientation == 90 ? static_cast<size_t>(h - 1 - y) : static_cast<size_t>(y);
            const size_t ty = orientation == 90 ? static_cast<size_t>(x) : static_cast<size_t>(w - 1 - x);
            dst[ty * h + tx] = row[x];
        }
    }
    return turned;
}

namespace {

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        return CAIRO_STATUS_NO_MEMORY;
    }
    return CAIRO_STATUS_SUCCESS;
}

int channel(int value) { return std::clamp(value, 0, 255); }

}  // namespace

std::optional<std::vector<unsigned char>> encodePng(const Coverage& page, const int colour[4]) {
    const int alpha = channel(colour[0]);
    const int ink[3] = {channel(colour[1]), channel(colour[2]), channel(colour[3])};
    // One colour per coverage level: white moved towards the ink by coverage x alpha.
    uint32_t shade[256];
    for (int c = 0; c < 256; ++c) {
        const int share = c * alpha;  // out of 255 * 255
        uint32_t pixel = 0;
        for (int i = 0; i < 3; ++i) {
            const int value = 255 - ((255 - ink[i]) * share + 65025 / 2) / 65025;
            pixel = (pixel << 8) | static_cast<uint32_t>(value);
        }
        shade[c] = pixel;
    }

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, page.width, page.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return std::nullopt;
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < page.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        const unsigned char* cover = page.pixels.data() + static_cast<size_t>(y) * page.width;
        for (int x = 0; x < page.width; ++x) row[x] = shade[cover[x]];
    }
    cairo_surface_mark_dirty(surface);

    std::vector<unsigned char> png;
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, appendBytes, &png);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) return std::nullopt;
    return png;
}

std::vector<unsigned char> packRows(const Coverage& page) {
    const size_t rowBytes = (static_cast<size_t>(page.width) + 7) / 8;
    std::vector<unsigned char> rows(rowBytes * static_cast<size_t>(page.height), 0);
    for (int y = 0; y < page.height; ++y) {
        const unsigned char* cover = page.pixels.data() + static_cast<size_t>(y) * page.width;
        unsigned char* out = rows.data() + rowBytes * static_cast<size_t>(y);
        for (int x = 0; x < page.width; ++x) {
            if (cover[x] >= 128) out[x >> 3] |= static_cast<unsigned char>(0x80u >> (x & 7));
        }
    }
    return rows;
}

}  // namespace kvrender
