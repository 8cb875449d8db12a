// Pictures: base64 text decoded, read by stb_image (PNG, JPEG, BMP, GIF), turned into coverage
// and painted into their box, in grey levels or black and white by a threshold.
#include "simulator/renderer/render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace kvrender {

namespace {

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

struct StbDeleter {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// The picture as an A8 surface over its own coverage (which must outlive the surface).
Surface pictureSurface(const Picture& picture) {
    return Surface(cairo_image_surface_create_for_data(const_cast<unsigned char*>(picture.coverage.data()),
                                                       CAIRO_FORMAT_A8, picture.width, picture.height,
                                                       picture.stride));
}

// The picture stretched over the rectangle of the current user space as a pattern source.
void setPictureSource(cairo_t* cr, cairo_surface_t* surface, const Picture& picture, double x, double y,
                      double width, double height) {
    cairo_rectangle(cr, x, y, width, height);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, width / picture.width, height / picture.height);
    cairo_set_source_surface(cr, surface, 0.0, 0.0);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    // Padding keeps the edge pixels whole up to the box's edge instead of fading out.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
}

// stb_image's JPEG reader writes past its Huffman tables when a table declares more than 256 codes;
// such a file is refused before it gets there. Every "FF C4" counts, also inside scan data, as
// stb_image reads tables between the scans of a progressive file.
bool jpegTablesFit(const std::vector<unsigned char>& bytes) {
    const size_t n = bytes.size();
    if (n < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return true;
    auto at = [&](size_t i) -> unsigned { return i < n ? bytes[i] : 0u; };  // stb reads 0 past the end
    size_t i = 2;
    while (i + 1 < n) {
        if (bytes[i] != 0xFF || bytes[i + 1] == 0xFF || bytes[i + 1] == 0x00 || bytes[i + 1] == 0xD8 ||
            (bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7) || bytes[i + 1] == 0x01) {
            ++i;
            continue;
        }
        if (bytes[i + 1] == 0xD9) return true;
        const size_t length = (at(i + 2) << 8) | at(i + 3);
        if (bytes[i + 1] == 0xC4) {
            // As stb_image reads it: tables one after another while the segment has bytes left.
            size_t table = i + 4;
            long left = static_cast<long>(length) - 2;
            while (left > 0) {
                size_t codes = 0;
                for (size_t k = 1; k <= 16; ++k) codes += at(table + k);
                if (codes > 256) return false;
                table += 17 + codes;
                left -= static_cast<long>(17 + codes);
            }
        }
        i += 2 + std::max<size_t>(length, 2);
    }
    return true;
}

}  // namespace

std::vector<unsigned char> decodeBase64(std::string_view text) {
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == ' ' || u == '\t' || u == '\r' || u == '\n') continue;
        const int value = base64Value(u);
        if (value < 0) break;  // padding or the first character outside the alphabet ends the data
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<unsigned char>((bits >> count) & 0xFF));
        }
    }
    return bytes;
}

std::optional<Picture> decodePicture(std::string_view base64) {
    const std::vector<unsigned char> bytes = decodeBase64(base64);
    if (bytes.empty() || bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return std::nullopt;
    if (!jpegTablesFit(bytes)) return std::nullopt;
    const int length = static_cast<int>(bytes.size());
    int width = 0;
    int height = 0;
    int channels = 0;
    // The header's size first: a small file may claim a picture far too large to hold.
    if (!stbi_info_from_memory(bytes.data(), length, &width, &height, &channels)) return std::nullopt;
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > kMaxPicturePixels) return std::nullopt;
    const std::unique_ptr<stbi_uc, StbDeleter> pixels(
        stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 2));
    if (!pixels || width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > kMaxPicturePixels) {
        return std::nullopt;
    }

    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, width);
    picture.coverage.assign(static_cast<size_t>(picture.stride) * height, 0);
    const stbi_uc* grey = pixels.get();
    for (int y = 0; y < height; ++y) {
        unsigned char* row = picture.coverage.data() + static_cast<size_t>(y) * picture.stride;
        for (int x = 0; x < width; ++x, grey += 2) {
            // Transparent parts show the white paper.
            const int alpha = grey[1];
            const int level = (grey[0] * alpha + 255 * (255 - alpha) + 127) / 255;
            row[x] = static_cast<unsigned char>(255 - level);
        }
    }
    return picture;
}

void paintPicture(cairo_t* cr, const Picture& picture, double x, double y, double width, double height,
                  std::optional<double> threshold) {
    if (width <= 0.0 || height <= 0.0) return;
    const Surface source = pictureSurface(picture);
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS) return;

    if (!threshold) {
        cairo_save(cr);
        setPictureSource(cr, source.get(), picture, x, y, width, height);
        cairo_pattern_t* pattern = cairo_pattern_reference(cairo_get_source(cr));
        cairo_set_source_rgba(cr, 0, 0, 0, 1);
        cairo_mask(cr, pattern);
        cairo_pattern_destroy(pattern);
        cairo_restore(cr);
        return;
    }

    // Black and white is decided at the page's resolution: the picture is scaled in grey levels
    // into a scratch surface over the pixels it covers, then cut at the threshold.
    cairo_surface_t* target = cairo_get_target(cr);
    const int pageWidth = cairo_image_surface_get_width(target);
    const int pageHeight = cairo_image_surface_get_height(target);
    double left = std::numeric_limits<double>::max();
    double top = left;
    double right = -left;
    double bottom = -left;
    const double corners[4][2] = {{x, y}, {x + width, y}, {x, y + height}, {x + width, y + height}};
    for (const auto& corner : corners) {
        double dx = corner[0];
        double dy = corner[1];
        cairo_user_to_device(cr, &dx, &dy);
        left = std::min(left, dx);
        right = std::max(right, dx);
        top = std::min(top, dy);
        bottom = std::max(bottom, dy);
    }
    const int x0 = static_cast<int>(std::clamp(std::floor(left), 0.0, static_cast<double>(pageWidth)));
    const int y0 = static_cast<int>(std::clamp(std::floor(top), 0.0, static_cast<double>(pageHeight)));
    const int x1 = static_cast<int>(std::clamp(std::ceil(right), 0.0, static_cast<double>(pageWidth)));
    const int y1 = static_cast<int>(std::clamp(std::ceil(bottom), 0.0, static_cast<double>(pageHeight)));
    if (x1 <= x0 || y1 <= y0) return;

    const Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_A8, x1 - x0, y1 - y0));
    if (cairo_surface_status(scratch.get()) != CAIRO_STATUS_SUCCESS) return;
    cairo_t* scratchCr = cairo_create(scratch.get());
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    matrix.x0 -= x0;
    matrix.y0 -= y0;
    cairo_set_matrix(scratchCr, &matrix);
    setPictureSource(scratchCr, source.get(), picture, x, y, width, height);
    cairo_paint(scratchCr);
    const bool drawn = cairo_status(scratchCr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(scratchCr);
    if (!drawn) return;

    cairo_surface_flush(scratch.get());
    unsigned char* data = cairo_image_surface_get_data(scratch.get());
    const int stride = cairo_image_surface_get_stride(scratch.get());
    // Darker than the threshold: grey level 255 - coverage below it.
    const double cut = 255.0 - std::clamp(*threshold, 0.0, 255.0);
    for (int row = 0; row < y1 - y0; ++row) {
        unsigned char* pixel = data + static_cast<size_t>(row) * stride;
        for (int column = 0; column < x1 - x0; ++column) pixel[column] = pixel[column] > cut ? 255 : 0;
    }
    cairo_surface_mark_dirty(scratch.get());

    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_mask_surface(cr, scratch.get(), x0, y0);
    cairo_restore(cr);
}

void drawImage(Page& page, const PixelBox& box, const ImageElement& image) {
    if (box.width <= 0.0 || box.height <= 0.0 || image.imageData.empty()) return;
    const std::optional<Picture> picture = decodePicture(image.imageData);
    if (!picture) return;
    enterBox(page.cr, box);
    std::optional<double> threshold;
    if (image.mode == 1) threshold = image.threshold;
    paintPicture(page.cr, *picture, 0.0, 0.0, box.width, box.height, threshold);
}

}  // namespace kvrender
