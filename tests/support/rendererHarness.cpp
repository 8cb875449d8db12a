#include "tests/support/rendererHarness.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace rendertest {

const Renderer& Renderer::get() {
    static const Renderer renderer = [] {
        Renderer loaded;
        const std::string path = std::string(KV_BIN_DIR) + "/" + kPelixFileName;
        void* module = platform::loadLibraryFromPath(path);
        if (module == nullptr) {
            ADD_FAILURE() << "cannot load " << path;
            return loaded;
        }
#define KV_RENDER_RESOLVE(name, result, params) \
    loaded.name = reinterpret_cast<result(*) params>(platform::findSymbol(module, #name));
        KV_PELIX_EXPORTS(KV_RENDER_RESOLVE)
#undef KV_RENDER_RESOLVE
        return loaded;
    }();
    return renderer;
}

std::optional<Rendered> render(const std::string& labelJson, const Options& options) {
    const Renderer& renderer = Renderer::get();
    if (renderer.generateDataFromPrintJson == nullptr) return std::nullopt;
    unsigned char zeroBlock[8] = {};
    RenderedImage* record = renderer.generateDataFromPrintJson(
        labelJson.c_str(), options.mode, 8.0f, options.scale, options.withMargin ? options.margin : nullptr,
        zeroBlock, options.orientation, options.colour);
    if (record == nullptr) return std::nullopt;
    Rendered out;
    out.width = record->width;
    out.height = record->height;
    out.data.assign(record->data, record->data + record->size);
    renderer.vFree(record);
    return out;
}

std::optional<Image> decodePng(const std::vector<unsigned char>& png, int channels) {
    int width = 0;
    int height = 0;
    int fileChannels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width, &height,
                                            &fileChannels, channels);
    if (pixels == nullptr) return std::nullopt;
    Image image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.pixels.assign(pixels, pixels + static_cast<size_t>(width) * height * channels);
    stbi_image_free(pixels);
    return image;
}

Image preview(const std::string& labelJson, Options options) {
    options.mode = 1;
    const std::optional<Rendered> rendered = render(labelJson, options);
    if (!rendered) {
        ADD_FAILURE() << "no image for " << labelJson.substr(0, 300);
        return {};
    }
    std::optional<Image> image = decodePng(rendered->data);
    if (!image) {
        ADD_FAILURE() << "not a PNG";
        return {};
    }
    EXPECT_EQ(image->width, rendered->width);
    EXPECT_EQ(image->height, rendered->height);
    return *image;
}

Image unpack(const Rendered& rows) {
    Image image;
    image.width = rows.width;
    image.height = rows.height;
    image.pixels.assign(static_cast<size_t>(rows.width) * rows.height, 255);
    const size_t rowBytes = (static_cast<size_t>(rows.width) + 7) / 8;
    for (int y = 0; y < rows.height; ++y) {
        for (int x = 0; x < rows.width; ++x) {
            const unsigned char byte = rows.data[y * rowBytes + x / 8];
            if (byte & (0x80 >> (x % 8))) image.pixels[static_cast<size_t>(y) * rows.width + x] = 0;
        }
    }
    return image;
}

std::optional<Rect> inkBounds(const Image& image) {
    Rect bounds{image.width, image.height, 0, 0};
    bool any = false;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!image.ink(x, y)) continue;
            any = true;
            bounds.x0 = std::min(bounds.x0, x);
            bounds.y0 = std::min(bounds.y0, y);
            bounds.x1 = std::max(bounds.x1, x + 1);
            bounds.y1 = std::max(bounds.y1, y + 1);
        }
    }
    if (!any) return std::nullopt;
    return bounds;
}

int inkCount(const Image& image, const Rect& area) {
    int count = 0;
    for (int y = std::max(0, area.y0); y < std::min(image.height, area.y1); ++y) {
        for (int x = std::max(0, area.x0); x < std::min(image.width, area.x1); ++x) count += image.ink(x, y);
    }
    return count;
}

int inkCount(const Image& image) { return inkCount(image, Rect{0, 0, image.width, image.height}); }

std::string label(double width, double height, const std::vector<Json::Value>& elements,
                  const std::vector<std::string>& fontFiles) {
    Json::Value root(Json::objectValue);
    root["width"] = width;
    root["height"] = height;
    root["rotate"] = 0;
    root["fontFiles"] = Json::Value(Json::arrayValue);
    for (const std::string& file : fontFiles) root["fontFiles"].append(file);
    root["elements"] = Json::Value(Json::arrayValue);
    for (const Json::Value& e : elements) root["elements"].append(e);
    return Json::FastWriter().write(root);
}

Json::Value element(const std::string& type, double x, double y, double width, double height) {
    Json::Value e(Json::objectValue);
    e["type"] = type;
    e["x"] = x;
    e["y"] = y;
    e["width"] = width;
    e["height"] = height;
    e["rotate"] = 0;
    return e;
}

std::string scratchFolder(const std::string& name) {
    const std::filesystem::path folder = std::filesystem::path(KV_TEST_DIR) / "renderer" / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

std::vector<std::string> scanCodes(const std::vector<unsigned char>& png, const std::string& name) {
    const std::filesystem::path folder = std::filesystem::path(KV_TEST_DIR) / "renderer" / "scans";
    std::filesystem::create_directories(folder);
    const std::string file = (folder / (name + ".png")).string();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                static_cast<std::streamsize>(png.size()));
    const std::string command = "zbarimg --quiet --raw '" + file + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run zbarimg (Debian package zbar-tools)";
        return {};
    }
    std::string output;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = pclose(pipe);
    // zbarimg exits with 4 when it finds nothing; 127 when it is missing.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) ADD_FAILURE() << "zbarimg is not installed";
    std::vector<std::string> values;
    size_t start = 0;
    while (start < output.size()) {
        const size_t end = output.find('\n', start);
        const std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty()) values.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::sort(values.begin(), values.end());
    return values;
}

namespace {

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::vector<unsigned char> greyPixels(int width, int height, const Shade& grey) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels[static_cast<size_t>(y) * width + x] = grey(x, y);
    }
    return pixels;
}

}  // namespace

std::string pngBase64(int width, int height, const Shade& grey, const Shade& alpha) {
    std::vector<unsigned char> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(grey(x, y));
            if (alpha) pixels.push_back(alpha(x, y));
        }
    }
    const int channels = alpha ? 2 : 1;
    std::vector<unsigned char> file;
    stbi_write_png_to_func(appendBytes, &file, width, height, channels, pixels.data(), width * channels);
    return base64(file);
}

// A 24-bit bitmap with the 40-byte header, rows from the bottom up (or top down, when its
// height is negative).
std::vector<unsigned char> bmpFile(int width, int height, const Shade& grey, bool topDown) {
    const std::vector<unsigned char> pixels = greyPixels(width, height, grey);
    std::vector<unsigned char> file;
    stbi_write_bmp_to_func(appendBytes, &file, width, height, 1, pixels.data());
    if (topDown) {
        const size_t offset = file[10] | (file[11] << 8);
        const size_t rowBytes = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
        for (int y = 0; y < height / 2; ++y) {
            std::swap_ranges(file.begin() + static_cast<std::ptrdiff_t>(offset + y * rowBytes),
                             file.begin() + static_cast<std::ptrdiff_t>(offset + (y + 1) * rowBytes),
                             file.begin() + static_cast<std::ptrdiff_t>(offset + (height - 1 - y) * rowBytes));
        }
        const uint32_t negative = static_cast<uint32_t>(-height);
        for (int i = 0; i < 4; ++i) file[22 + i] = static_cast<unsigned char>(negative >> (8 * i));
    }
    return file;
}

std::string bmpBase64(int width, int height, const Shade& grey, bool topDown) {
    return base64(bmpFile(width, height, grey, topDown));
}

std::string icoBase64(int width, int height, const Shade& grey, const Shade& transparent, bool png) {
    std::vector<unsigned char> image;
    if (png) {
        image = fromBase64(pngBase64(width, height, grey));
    } else {
        // The bitmap without its file header, its height counting the AND mask's rows too.
        const std::vector<unsigned char> bitmap = bmpFile(width, height, grey, false);
        image.assign(bitmap.begin() + 14, bitmap.end());
        const uint32_t rows = static_cast<uint32_t>(2 * height);
        for (int i = 0; i < 4; ++i) image[8 + i] = static_cast<unsigned char>(rows >> (8 * i));
        const size_t maskBytes = (static_cast<size_t>(width) + 31) / 32 * 4;
        for (int y = height - 1; y >= 0; --y) {
            std::vector<unsigned char> row(maskBytes, 0);
            for (int x = 0; x < width; ++x) {
                if (transparent && transparent(x, y)) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            }
            image.insert(image.end(), row.begin(), row.end());
        }
    }
    std::vector<unsigned char> file = {0, 0, 1, 0, 1, 0};
    file.push_back(static_cast<unsigned char>(width & 0xFF));
    file.push_back(static_cast<unsigned char>(height & 0xFF));
    file.insert(file.end(), {0, 0, 1, 0, 24, 0});
    for (uint32_t value : {static_cast<uint32_t>(image.size()), 22u}) {
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    file.insert(file.end(), image.begin(), image.end());
    return base64(file);
}

std::string jpegBase64(int width, int height, const Shade& grey) {
    const std::vector<unsigned char> pixels = greyPixels(width, height, grey);
    std::vector<unsigned char> file;
    stbi_write_jpg_to_func(appendBytes, &file, width, height, 1, pixels.data(), 95);
    return base64(file);
}

std::string gifBase64(int width, int height, const Shade& grey) {
    // A two-colour GIF whose LZW data is a clear code before every second pixel, so the code width
    // stays at three bits: simple to write, valid for every reader.
    std::vector<unsigned char> file = {'G', 'I', 'F', '8', '9', 'a'};
    auto word = [&](int value) {
        file.push_back(static_cast<unsigned char>(value & 0xFF));
        file.push_back(static_cast<unsigned char>(value >> 8));
    };
    word(width);
    word(height);
    file.insert(file.end(), {0x81, 0x00, 0x00});  // global table of 4 colours
    file.insert(file.end(), {0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    file.push_back(0x2C);
    word(0);
    word(0);
    word(width);
    word(height);
    file.push_back(0x00);
    file.push_back(0x02);  // minimum code size
    std::vector<unsigned char> data;
    uint32_t bits = 0;
    int count = 0;
    auto code = [&](int value) {
        bits |= static_cast<uint32_t>(value) << count;
        count += 3;
        while (count >= 8) {
            data.push_back(static_cast<unsigned char>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    int emitted = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (emitted % 2 == 0) code(4);  // clear
            code(grey(x, y) < 128 ? 0 : 1);
            ++emitted;
        }
    }
    code(5);  // end of information
    if (count > 0) data.push_back(static_cast<unsigned char>(bits & 0xFF));
    for (size_t at = 0; at < data.size(); at += 255) {
        const size_t length = std::min<size_t>(255, data.size() - at);
        file.push_back(static_cast<unsigned char>(length));
        file.insert(file.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                    data.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    file.push_back(0x00);
    file.push_back(0x3B);
    return base64(file);
}

std::vector<std::pair<std::string, std::string>> headerOnlyPictures() {
    const Shade grey = [](int x, int y) { return static_cast<unsigned char>(x * 16 + y); };
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                      0, 0, 0x23, 0x28, 0, 0, 0x23, 0x28, 8, 2, 0, 0, 0};
    png.insert(png.end(), {0xE2, 0xB7, 0xE5, 0xED});  // the chunk's CRC
    std::vector<unsigned char> gif = fromBase64(gifBase64(16, 16, grey));
    gif.resize(13 + 12);  // the screen and its colours
    const std::vector<unsigned char> jpeg = fromBase64(jpegBase64(16, 16, grey));
    size_t scan = 0;
    while (scan + 3 < jpeg.size() && !(jpeg[scan] == 0xFF && jpeg[scan + 1] == 0xDA)) ++scan;
    const size_t scanHeader = scan + 2 + ((jpeg[scan + 2] << 8) | jpeg[scan + 3]);
    std::vector<unsigned char> ico = fromBase64(icoBase64(16, 16, grey));
    ico.resize(22);  // the directory
    std::vector<unsigned char> bmp = fromBase64(bmpBase64(16, 16, grey));
    bmp.resize(54);  // the file and info headers
    return {{"PNG header of 9000 x 9000", base64(png)},
            {"GIF header", base64(gif)},
            {"JPEG header", base64(std::vector<unsigned char>(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(scan)))},
            {"JPEG up to its scan's data", base64(std::vector<unsigned char>(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(scanHeader)))},
            {"ICO directory", base64(ico)},
            {"BMP headers", base64(bmp)}};
}

std::string base64(const std::vector<unsigned char>& bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t n = bytes[i] << 16;
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::vector<unsigned char> fromBase64(const std::string& text) {
    std::vector<unsigned char> out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        if (v < 0) break;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<unsigned char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

}  // namespace rendertest
