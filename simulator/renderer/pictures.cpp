// Base64 pictures decoded into coverage. PNG by libpng, JPEG by libjpeg-turbo, GIF by giflib;
// BMP and ICO in bitmaps.cpp. A picture decodes only whole: a file cut short, damaged or larger
// than the limits gives no picture at all, never a part of one.
#include "simulator/renderer/pictureFormats.h"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <jerror.h>

namespace kvrender {

namespace formats {

bool CoverageRows::fits(int64_t width, int64_t height) const {
    return width > 0 && height > 0 && width <= maxPixels_ && height <= maxPixels_ && width * height <= maxPixels_;
}

bool CoverageRows::start(int64_t width, int64_t height) {
    if (!fits(width, height)) return false;
    picture_.width = static_cast<int>(width);
    picture_.height = static_cast<int>(height);
    // Rows as cairo's A8 surfaces lay them out: a multiple of four bytes.
    picture_.stride = static_cast<int>((width + 3) / 4 * 4);
    picture_.coverage.assign(static_cast<size_t>(picture_.stride) * static_cast<size_t>(height), 0);
    return true;
}

// ---- PNG ---------------------------------------------------------------------------------------

namespace {

// What the decode keeps outside the function that libpng's errors jump back to: only objects
// of a frame that the jump leaves keep their values for certain.
struct PngJob {
    Bytes file;
    size_t at = 0;
    CoverageRows* out = nullptr;
    std::vector<unsigned char> pixels;
    std::vector<png_bytep> rows;
    bool decoded = false;
};

[[noreturn]] void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep out, size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->file.size - job->at) png_error(png, "cut short");
    std::memcpy(out, job->file.data + job->at, length);
    job->at += length;
}

// One row of grey and alpha (2 bytes a pixel) or of red, green, blue and alpha (4) as coverage.
void pngRow(const unsigned char* pixel, size_t channels, unsigned char* cover, int width) {
    if (channels == 2) {
        for (int x = 0; x < width; ++x, pixel += 2) cover[x] = coverageOf(pixel[0], pixel[1]);
    } else {
        for (int x = 0; x < width; ++x, pixel += 4) cover[x] = coverageOf(greyOf(pixel[0], pixel[1], pixel[2]), pixel[3]);
    }
}

void pngDecode(png_structp png, png_infop info, PngJob& job) {
    if (setjmp(png_jmpbuf(png))) return;
    png_set_read_fn(png, &job, pngRead);
    // Chunks that do not change the pixels are not read (texts, colour profiles, palettes of hints).
    static const png_byte kSkipped[] = "iCCP\0iTXt\0tEXt\0zTXt\0sPLT\0eXIf";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 6);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (!job.out->start(width, height)) return;
    // Grey pictures as grey and alpha, all others as colour and alpha, 8 bits each.
    const size_t channels = (colourType & PNG_COLOR_MASK_COLOR) != 0 ? 4 : 2;
    png_set_expand(png);
    png_set_strip_16(png);
    if ((colourType & PNG_COLOR_MASK_ALPHA) == 0 && png_get_valid(png, info, PNG_INFO_tRNS) == 0) {
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = static_cast<size_t>(width) * channels;
    if (png_get_channels(png, info) != channels || png_get_rowbytes(png, info) != rowBytes) return;

    const int w = static_cast<int>(width);
    if (passes > 1) {
        // An interlaced picture comes in passes over the whole picture.
        job.pixels.assign(rowBytes * height, 0);
        job.rows.resize(height);
        for (png_uint_32 y = 0; y < height; ++y) job.rows[y] = job.pixels.data() + rowBytes * y;
        png_read_image(png, job.rows.data());
        for (png_uint_32 y = 0; y < height; ++y) pngRow(job.rows[y], channels, job.out->row(static_cast<int>(y)), w);
    } else {
        job.pixels.resize(rowBytes);
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, job.pixels.data(), nullptr);
            pngRow(job.pixels.data(), channels, job.out->row(static_cast<int>(y)), w);
        }
    }
    job.decoded = true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

}  // namespace

bool readPng(Bytes file, CoverageRows& out) {
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (reader.png == nullptr) return false;
    reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr) return false;
    PngJob job;
    job.file = file;
    job.out = &out;
    pngDecode(reader.png, reader.info, job);
    return job.decoded;
}

// ---- JPEG --------------------------------------------------------------------------------------

namespace {

// Progressive files are read scan by scan over the whole picture; a file of thousands of tiny
// scans would keep the renderer busy for minutes. Real files have about ten.
constexpr int kMaxJpegScans = 100;
// The coefficients of a progressive picture of the largest size fit in this.
constexpr long kMaxJpegMemory = 256L * 1024 * 1024;

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool cutShort = false;
};

struct JpegJob {
    jpeg_decompress_struct info;
    JpegErrors errors;
    jpeg_progress_mgr progress;
    Bytes file;
    CoverageRows* out = nullptr;
    std::vector<unsigned char> row;
    bool created = false;
    bool decoded = false;
};

[[noreturn]] void jpegExit(j_common_ptr common) {
    std::longjmp(reinterpret_cast<JpegErrors*>(common->err)->jump, 1);
}

// Warnings are not printed; the one that the data ended early makes the picture cut short
// (libjpeg would go on with grey in place of the missing part).
void jpegMessage(j_common_ptr common, int level) {
    if (level < 0 && common->err->msg_code == JWRN_JPEG_EOF) reinterpret_cast<JpegErrors*>(common->err)->cutShort = true;
}
void jpegOutput(j_common_ptr) {}

void jpegProgress(j_common_ptr common) {
    if (common->is_decompressor && reinterpret_cast<j_decompress_ptr>(common)->input_scan_number > kMaxJpegScans) {
        jpegExit(common);
    }
}

void jpegDecode(JpegJob& job) {
    jpeg_decompress_struct& info = job.info;
    info.err = jpeg_std_error(&job.errors.manager);
    job.errors.manager.error_exit = jpegExit;
    job.errors.manager.emit_message = jpegMessage;
    job.errors.manager.output_message = jpegOutput;
    if (setjmp(job.errors.jump)) return;
    jpeg_create_decompress(&info);
    job.created = true;
    info.mem->max_memory_to_use = kMaxJpegMemory;
    job.progress.progress_monitor = jpegProgress;
    info.progress = &job.progress;
    jpeg_mem_src(&info, job.file.data, static_cast<unsigned long>(job.file.size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return;
    if (!job.out->fits(info.image_width, info.image_height)) return;
    bool cmyk = false;
    switch (info.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            // The luma is the grey level (0.299, 0.587, 0.114): the colour need not be made.
            info.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            info.out_color_space = JCS_CMYK;
            cmyk = true;
            break;
        default:
            return;
    }
    jpeg_start_decompress(&info);
    if (job.errors.cutShort) return;
    if (!job.out->start(info.output_width, info.output_height)) return;
    const size_t components = cmyk ? 4 : 1;
    if (static_cast<size_t>(info.output_components) != components) return;
    job.row.resize(static_cast<size_t>(info.output_width) * components);
    const int width = static_cast<int>(info.output_width);
    // Adobe's files hold the inks inverted, as nearly all CMYK JPEGs do.
    const bool inverted = info.saw_Adobe_marker;
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW row = job.row.data();
        if (jpeg_read_scanlines(&info, &row, 1) != 1 || job.errors.cutShort) return;
        unsigned char* cover = job.out->row(y);
        if (!cmyk) {
            for (int x = 0; x < width; ++x) cover[x] = static_cast<unsigned char>(255 - row[x]);
            continue;
        }
        for (int x = 0; x < width; ++x) {
            const unsigned char* ink = row + static_cast<size_t>(x) * 4;
            int channel[3];
            for (int i = 0; i < 3; ++i) {
                channel[i] = inverted ? ink[i] * ink[3] / 255 : (255 - ink[i]) * (255 - ink[3]) / 255;
            }
            cover[x] = static_cast<unsigned char>(255 - greyOf(channel[0], channel[1], channel[2]));
        }
    }
    job.decoded = true;
}

}  // namespace

bool readJpeg(Bytes file, CoverageRows& out) {
    auto job = std::make_unique<JpegJob>();
    job->file = file;
    job->out = &out;
    jpegDecode(*job);
    if (job->created) jpeg_destroy_decompress(&job->info);
    return job->decoded;
}

// ---- GIF ---------------------------------------------------------------------------------------

namespace {

struct GifInput {
    Bytes file;
    size_t at = 0;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* input = static_cast<GifInput*>(gif->UserData);
    const size_t count = std::min(static_cast<size_t>(std::max(length, 0)), input->file.size - input->at);
    std::memcpy(out, input->file.data + input->at, count);
    input->at += count;
    return static_cast<int>(count);
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser() {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

}  // namespace

// The first frame on the logical screen; the rest of the screen is transparent.
bool readGif(Bytes file, CoverageRows& out) {
    GifInput input{file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, gifRead, &error);
    if (gif == nullptr) return false;
    const GifCloser closer{gif};
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) break;
        if (type != EXTENSION_RECORD_TYPE) return false;  // the end, or nothing GIF knows: no frame
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        GraphicsControlBlock control;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr &&
            DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
            transparent = control.TransparentColor;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
        }
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc& frame = gif->Image;
    if (!out.start(gif->SWidth, gif->SHeight) || !out.fits(frame.Width, frame.Height)) return false;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || colours->Colors == nullptr) return false;
    unsigned char coverage[256] = {};  // indices beyond the table, and the transparent one: paper
    for (int i = 0; i < std::min(colours->ColorCount, 256); ++i) {
        const GifColorType& c = colours->Colors[i];
        if (i != transparent) coverage[i] = coverageOf(greyOf(c.Red, c.Green, c.Blue), 255);
    }

    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    // Interlaced rows come every 8th from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
    const int starts[4] = {0, 4, 2, 1};
    const int steps[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int step = frame.Interlace ? steps[pass] : 1;
        for (int y = frame.Interlace ? starts[pass] : 0; y < frame.Height; y += step) {
            if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) return false;
            const int64_t screenY = static_cast<int64_t>(frame.Top) + y;
            if (screenY >= out.height()) continue;
            unsigned char* cover = out.row(static_cast<int>(screenY));
            const int64_t columns = std::min<int64_t>(frame.Width, static_cast<int64_t>(out.width()) - frame.Left);
            for (int64_t x = 0; x < columns; ++x) cover[frame.Left + x] = coverage[line[static_cast<size_t>(x)]];
        }
    }
    return true;
}

}  // namespace formats

namespace {

constexpr int8_t kBase64Space = -2;
constexpr int8_t kBase64End = -1;

// The value of each byte in base64: 0 to 63, kBase64Space for white space, kBase64End for anything
// else (padding included).
const std::array<int8_t, 256>& base64Values() {
    static const std::array<int8_t, 256> values = [] {
        std::array<int8_t, 256> table;
        table.fill(kBase64End);
        const char* const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
        for (const unsigned char space : {' ', '\t', '\r', '\n'}) table[space] = kBase64Space;
        return table;
    }();
    return values;
}

bool startsWith(const unsigned char* data, size_t size, const char* signature, size_t length) {
    return size >= length && std::memcmp(data, signature, length) == 0;
}

}  // namespace

std::vector<unsigned char> decodeBase64(std::string_view text) {
    const std::array<int8_t, 256>& values = base64Values();
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 3);
    unsigned char* out = bytes.data();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = in + text.size();
    uint32_t bits = 0;
    int count = 0;
    while (in < end) {
        // A picture is megabytes of whole groups of four: those go three bytes at a time.
        if (count == 0) {
            while (end - in >= 4) {
                const int a = values[in[0]], b = values[in[1]], c = values[in[2]], d = values[in[3]];
                if ((a | b | c | d) < 0) break;
                const uint32_t group = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
                out[0] = static_cast<unsigned char>(group >> 16);
                out[1] = static_cast<unsigned char>(group >> 8);
                out[2] = static_cast<unsigned char>(group);
                out += 3;
                in += 4;
            }
            if (in == end) break;
        }
        const int value = values[*in++];
        if (value == kBase64Space) continue;
        if (value < 0) break;  // padding or the first character outside the alphabet ends the data
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            *out++ = static_cast<unsigned char>((bits >> count) & 0xFF);
        }
    }
    bytes.resize(static_cast<size_t>(out - bytes.data()));
    return bytes;
}

std::optional<Picture> decodePictureBytes(const unsigned char* data, size_t size) {
    if (data == nullptr || size == 0) return std::nullopt;
    Picture picture;
    formats::CoverageRows out(picture, kMaxPicturePixels);
    const formats::Bytes file{data, size};
    bool decoded = false;
    if (startsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) {
        decoded = formats::readPng(file, out);
    } else if (startsWith(data, size, "\xFF\xD8", 2)) {
        decoded = formats::readJpeg(file, out);
    } else if (startsWith(data, size, "GIF87a", 6) || startsWith(data, size, "GIF89a", 6)) {
        decoded = formats::readGif(file, out);
    } else if (startsWith(data, size, "BM", 2)) {
        decoded = formats::readBmp(file, out);
    } else if (startsWith(data, size, "\0\0\1\0", 4)) {
        decoded = formats::readIco(file, out);
    }
    if (!decoded) return std::nullopt;
    return picture;
}

std::optional<Picture> decodePicture(std::string_view base64) {
    const std::vector<unsigned char> bytes = decodeBase64(base64);
    return decodePictureBytes(bytes.data(), bytes.size());
}

}  // namespace kvrender
