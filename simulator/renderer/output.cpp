#include "simulator/renderer/output.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

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

int channel(int value) { return std::clamp(value, 0, 255); }

// What the encode keeps outside the function that libpng's errors jump back to.
struct PngWrite {
    const Coverage* page = nullptr;
    const PngSettings* settings = nullptr;
    png_color shades[256] = {};
    std::vector<unsigned char> file;
    std::vector<unsigned char> row;
    bool written = false;
};

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

void pngAppend(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<PngWrite*>(png_get_io_ptr(png));
    try {
        job->file.insert(job->file.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}
void pngFlush(png_structp) {}

void pngEncode(png_structp png, png_infop info, PngWrite& job) {
    if (setjmp(png_jmpbuf(png))) return;
    const Coverage& page = *job.page;
    const PngSettings& settings = *job.settings;
    png_set_write_fn(png, &job, pngAppend, pngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(page.width), static_cast<png_uint_32>(page.height), 8,
                 settings.palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (settings.palette) png_set_PLTE(png, info, job.shades, 256);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.filter);
    png_set_compression_level(png, settings.level);
    png_set_compression_strategy(png, settings.strategy);
    png_write_info(png, info);
    const size_t width = static_cast<size_t>(page.width);
    if (!settings.palette) job.row.resize(width * 3);
    for (int y = 0; y < page.height; ++y) {
        const unsigned char* cover = page.pixels.data() + static_cast<size_t>(y) * width;
        if (settings.palette) {
            // The coverage is the palette index: the rows are written as they are.
            png_write_row(png, cover);
            continue;
        }
        unsigned char* out = job.row.data();
        for (size_t x = 0; x < width; ++x, out += 3) {
            const png_color& shade = job.shades[cover[x]];
            out[0] = shade.red;
            out[1] = shade.green;
            out[2] = shade.blue;
        }
        png_write_row(png, job.row.data());
    }
    png_write_end(png, nullptr);
    job.written = true;
}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }
};

}  // namespace

std::optional<std::vector<unsigned char>> encodePng(const Coverage& page, const int colour[4],
                                                    const PngSettings& settings) {
    if (page.width <= 0 || page.height <= 0) return std::nullopt;
    PngWrite job;
    job.page = &page;
    job.settings = &settings;
    const int alpha = channel(colour[0]);
    const int ink[3] = {channel(colour[1]), channel(colour[2]), channel(colour[3])};
    // One colour per coverage level: white moved towards the ink by coverage x alpha.
    for (int c = 0; c < 256; ++c) {
        const int share = c * alpha;  // out of 255 * 255
        int value[3];
        for (int i = 0; i < 3; ++i) value[i] = 255 - ((255 - ink[i]) * share + 65025 / 2) / 65025;
        job.shades[c] = png_color{static_cast<png_byte>(value[0]), static_cast<png_byte>(value[1]),
                                  static_cast<png_byte>(value[2])};
    }
    // A deflate stream is seldom larger than a tenth of the rows; most previews are far smaller.
    job.file.reserve(static_cast<size_t>(page.width) * page.height / 10 + 1024);

    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (writer.png == nullptr) return std::nullopt;
    writer.info = png_create_info_struct(writer.png);
    if (writer.info == nullptr) return std::nullopt;
    pngEncode(writer.png, writer.info, job);
    if (!job.written) return std::nullopt;
    return std::move(job.file);
}

std::vector<unsigned char> packRows(const Coverage& page) {
    const size_t rowBytes = (static_cast<size_t>(page.width) + 7) / 8;
    std::vector<unsigned char> rows(rowBytes * static_cast<size_t>(page.height), 0);
    for (int y = 0; y < page.height; ++y) {
        const unsigned char* cover = page.pixels.data() + static_cast<size_t>(y) * page.width;
        unsigned char* out = rows.data() + rowBytes * static_cast<size_t>(y);
        // Eight pixels make one byte, the leftmost in its highest bit.
        for (int x = 0; x < page.width; x += 8) {
            const int count = std::min(8, page.width - x);
            unsigned bits = 0;
            for (int k = 0; k < count; ++k) bits |= (cover[x + k] >= 128 ? 0x80u : 0u) >> k;
            out[x >> 3] = static_cast<unsigned char>(bits);
        }
    }
    return rows;
}

}  // namespace kvrender
