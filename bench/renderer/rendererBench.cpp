// The renderer stand-in in process, as the bridge calls its generateDataFromPrintJson: a 50 x 30
// mm label (a text, a Code 128 barcode, a QR code, a line, a rectangle and a picture) and a
// 100 x 150 mm shipping label, as previews and prints: time per render and the memory it takes.
// Then the parts that the renderer's PNG writer and picture readers changed, old and new side by
// side in the same run: the preview pages written by cairo's PNG writer (as the renderer did) and
// by the renderer's own, with the ratio of their times and whether they decode to the same pixels;
// the writer's filters and zlib levels, from which its settings were chosen; and the pictures read
// by stb_image (as the renderer did) and by the renderer's readers.
// It prints figures only; it checks nothing.
//
//   rendererBench [path of libpelix_windows.so]   (default: the one of this build), so that the same
//   labels can be rendered by an older build's renderer for before-and-after figures.
#include <cairo.h>
#include <json/json.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sdk/thirdLibrary.h"
#include "simulator/renderer/output.h"
#include "simulator/renderer/pictures.h"
#include "tests/support/rendererHarness.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

using Generate = RenderedImage* (*)(const char*, int32_t, float, float, const float*, void*, int32_t,
                                    const int32_t*);
using Free = void (*)(RenderedImage*);
using Clock = std::chrono::steady_clock;

using rendertest::element;

// ---- labels ------------------------------------------------------------------------------------

// A 96 x 96 pixel grey picture: a ring on a gradient.
std::string picture() {
    return rendertest::pngBase64(96, 96, [](int x, int y) {
        const int dx = x - 48, dy = y - 48;
        const int r = dx * dx + dy * dy;
        return r > 900 && r < 1600 ? 0 : static_cast<unsigned char>(128 + x);
    });
}

std::string typicalLabel() {
    std::vector<Json::Value> elements;
    Json::Value text = element("text", 2, 1, 30, 6);
    text["value"] = "Item 4711 - best before 12/2026";
    text["fontSize"] = 9.0;
    text["lineMode"] = 0;
    text["lineBreakMode"] = 1;
    elements.push_back(text);
    Json::Value bar = element("barcode", 2, 8, 30, 10);
    bar["codeType"] = 20;
    bar["value"] = "ABC-1234567";
    bar["fontSize"] = 7.0;
    bar["textPosition"] = 1;
    elements.push_back(bar);
    Json::Value qr = element("qrcode", 34, 1, 14, 14);
    qr["codeType"] = 58;
    qr["value"] = "https://example.com/item/4711";
    elements.push_back(qr);
    Json::Value line = element("line", 2, 20, 46, 0.3);
    elements.push_back(line);
    Json::Value rect = element("graph", 2, 22, 30, 7);
    rect["graphType"] = 1;
    rect["lineWidth"] = 0.3;
    elements.push_back(rect);
    Json::Value image = element("image", 36, 17, 12, 12);
    image["imageData"] = picture();
    image["mode"] = 1;
    image["imageProcessingValue"] = 127.0;
    elements.push_back(image);
    return rendertest::label(50, 30, elements);
}

// A 100 x 150 mm shipping label: sender and addressee blocks, a large Code 128, a QR code, a
// logo, frames and rules.
std::string shippingLabel() {
    std::vector<Json::Value> elements;
    auto text = [&](double x, double y, double w, double h, const std::string& value, double size) {
        Json::Value e = element("text", x, y, w, h);
        e["value"] = value;
        e["fontSize"] = size;
        elements.push_back(e);
    };
    Json::Value frame = element("graph", 2, 2, 96, 146);
    frame["graphType"] = 1;
    frame["lineWidth"] = 0.5;
    elements.push_back(frame);
    text(5, 5, 60, 20, "From: Example Parts Ltd\nUnit 7, Harbour Road\nPORTSMOUTH PO1 2AB", 9);
    Json::Value logo = element("image", 70, 5, 25, 15);
    logo["imageData"] = rendertest::pngBase64(200, 120, [](int x, int y) {
        return static_cast<unsigned char>((x / 20 + y / 20) % 2 ? 30 : 230);
    });
    elements.push_back(logo);
    elements.push_back(element("line", 2, 28, 96, 0.4));
    text(5, 31, 90, 35, "To: Jane Doe\n42 Long Street, Flat 3\nNORTHTOWN NT9 8ZZ\nUNITED KINGDOM", 14);
    elements.push_back(element("line", 2, 68, 96, 0.4));
    Json::Value bar = element("barcode", 8, 72, 84, 28);
    bar["codeType"] = 20;
    bar["value"] = "KV-0001-ABC-20260419";
    bar["fontSize"] = 10.0;
    bar["textPosition"] = 1;
    elements.push_back(bar);
    elements.push_back(element("line", 2, 104, 96, 0.4));
    Json::Value qr = element("qrcode", 5, 108, 36, 36);
    qr["codeType"] = 58;
    qr["value"] = "https://example.com/track/KV-0001-ABC-20260419?lang=en";
    elements.push_back(qr);
    text(45, 108, 50, 36, "Parcel 1 of 2\nWeight 2.4 kg\nService: NEXT DAY\nRef 4711-0815", 11);
    return rendertest::label(100, 150, elements);
}

// ---- figures -----------------------------------------------------------------------------------

struct Times {
    std::vector<double> ms;
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0.0 : ms[ms.size() / 2];
    }
};

template <typename F>
Times timed(int rounds, F&& f) {
    Times times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        f();
        times.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return times;
}

long maxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void measure(Generate generate, Free release, const char* name, const std::string& label, float scale, int mode,
             int rounds) {
    const float margin[4] = {0, 0, 0, 0};
    unsigned char zeroBlock[8] = {};
    const int32_t colour[4] = {255, 0, 0, 0};
    auto once = [&] { return generate(label.c_str(), mode, 8.0f, scale, margin, zeroBlock, 0, colour); };

    for (int i = 0; i < 20; ++i) release(once());  // caches of fonts and glyphs warmed
    const size_t heapBefore = mallinfo2().uordblks;
    RenderedImage* kept = once();
    const size_t heapHeld = mallinfo2().uordblks - heapBefore;
    const int width = kept != nullptr ? kept->width : 0;
    const int height = kept != nullptr ? kept->height : 0;
    const int bytes = kept != nullptr ? kept->size : 0;
    release(kept);

    std::vector<double> times;
    times.reserve(static_cast<size_t>(rounds));
    const size_t heapStart = mallinfo2().uordblks;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        RenderedImage* image = once();
        const auto end = Clock::now();
        release(image);
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    const long long heapGrowth = static_cast<long long>(mallinfo2().uordblks) - static_cast<long long>(heapStart);
    std::sort(times.begin(), times.end());
    double total = 0;
    for (double t : times) total += t;
    std::printf("%-9s %5.1f dots/mm %-7s %4d x %-4d  median %7.3f ms  mean %7.3f ms  p95 %7.3f ms  min %7.3f ms  "
                "result %7d B  held per record %8zu B  heap growth per render %6.1f B\n",
                name, scale, mode == 1 ? "preview" : "print", width, height, times[times.size() / 2], total / rounds,
                times[times.size() * 95 / 100], times.front(), bytes, heapHeld,
                static_cast<double>(heapGrowth) / rounds);
}

// ---- the PNG writer ----------------------------------------------------------------------------

// The renderer's PNG as it was written before: the shades in a cairo RGB24 surface, written by
// cairo's PNG writer (libpng with its default filters and zlib level).
std::vector<unsigned char> cairoPng(const kvrender::Coverage& page, const int colour[4]) {
    uint32_t shade[256];
    for (int c = 0; c < 256; ++c) {
        const int share = c * colour[0];
        uint32_t pixel = 0;
        for (int i = 0; i < 3; ++i) {
            const int value = 255 - ((255 - colour[1 + i]) * share + 65025 / 2) / 65025;
            pixel = (pixel << 8) | static_cast<uint32_t>(value);
        }
        shade[c] = pixel;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, page.width, page.height);
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
    cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* bytes, unsigned int length) {
            auto* out = static_cast<std::vector<unsigned char>*>(closure);
            out->insert(out->end(), bytes, bytes + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(surface);
    return png;
}

// The coverage of a rendered preview (black ink: the grey level is 255 less the coverage).
kvrender::Coverage previewCoverage(Generate generate, Free release, const std::string& label) {
    const float margin[4] = {0, 0, 0, 0};
    unsigned char zeroBlock[8] = {};
    const int32_t colour[4] = {255, 0, 0, 0};
    RenderedImage* image = generate(label.c_str(), 1, 8.0f, 8.0f, margin, zeroBlock, 0, colour);
    kvrender::Coverage page;
    if (image == nullptr) return page;
    const std::optional<rendertest::Image> grey =
        rendertest::decodePng(std::vector<unsigned char>(image->data, image->data + image->size));
    release(image);
    if (!grey) return page;
    page.width = grey->width;
    page.height = grey->height;
    page.pixels.resize(grey->pixels.size());
    for (size_t i = 0; i < grey->pixels.size(); ++i) page.pixels[i] = static_cast<unsigned char>(255 - grey->pixels[i]);
    return page;
}

void comparePngWriters(const char* name, const kvrender::Coverage& page, bool withVariants) {
    // An ink with colour and part alpha, so that every shade differs in every channel.
    const int colours[2][4] = {{255, 0, 0, 0}, {200, 30, 90, 160}};
    for (const auto& colour : colours) {
        std::vector<unsigned char> before, after;
        const int rounds = page.width * page.height > 1'000'000 ? 20 : 100;
        Times old = timed(rounds, [&] { before = cairoPng(page, colour); });
        Times now = timed(rounds, [&] { after = *kvrender::encodePng(page, colour); });
        const std::optional<rendertest::Image> a = rendertest::decodePng(before, 3);
        const std::optional<rendertest::Image> b = rendertest::decodePng(after, 3);
        const bool same = a && b && a->width == b->width && a->height == b->height && a->pixels == b->pixels;
        std::printf("%-9s %4d x %-4d ink %3d,%3d,%3d,%3d  cairo's writer %7.3f ms %7zu B   own writer %7.3f ms %7zu B"
                    "   time ratio %.2f   decoded pixels %s\n",
                    name, page.width, page.height, colour[0], colour[1], colour[2], colour[3], old.median(),
                    before.size(), now.median(), after.size(), now.median() / old.median(),
                    same ? "identical" : "DIFFERENT");
    }
    if (!withVariants) return;
    struct Named {
        const char* name;
        int value;
    };
    const Named filters[] = {{"none", PNG_FILTER_NONE}, {"sub", PNG_FILTER_SUB},     {"up", PNG_FILTER_UP},
                             {"paeth", PNG_FILTER_PAETH}, {"all", PNG_ALL_FILTERS}};
    const Named strategies[] = {{"default", Z_DEFAULT_STRATEGY}, {"rle", Z_RLE}, {"filtered", Z_FILTERED}};
    const int colour[4] = {255, 0, 0, 0};
    std::printf("%-9s the own writer's settings (median of 10):\n", name);
    for (bool palette : {true, false}) {
        for (const Named& filter : filters) {
            for (int level : {1, 3, 6}) {
                for (const Named& strategy : strategies) {
                    kvrender::PngSettings settings;
                    settings.palette = palette;
                    settings.filter = filter.value;
                    settings.level = level;
                    settings.strategy = strategy.value;
                    std::vector<unsigned char> file;
                    Times t = timed(10, [&] { file = *kvrender::encodePng(page, colour, settings); });
                    std::printf("          %-7s filter %-5s level %d %-8s %7.3f ms %8zu B\n", palette ? "palette" : "RGB",
                                filter.name, level, strategy.name, t.median(), file.size());
                }
            }
        }
    }
}

// ---- the picture readers -----------------------------------------------------------------------

// A picture read as the renderer read it before: stb_image's grey and alpha, then coverage.
std::vector<unsigned char> stbCoverage(const std::vector<unsigned char>& file) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 2);
    std::vector<unsigned char> coverage;
    if (pixels == nullptr) return coverage;
    const int stride = (width + 3) / 4 * 4;
    coverage.assign(static_cast<size_t>(stride) * height, 0);
    const stbi_uc* grey = pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, grey += 2) {
            const int level = (grey[0] * grey[1] + 255 * (255 - grey[1]) + 127) / 255;
            coverage[static_cast<size_t>(y) * stride + x] = static_cast<unsigned char>(255 - level);
        }
    }
    stbi_image_free(pixels);
    return coverage;
}

void compareReaders() {
    unsigned seed = 12345;
    // The picture of the 50 x 30 mm label; a large photograph-like picture as a picture print
    // sends (gradients, rings and a little noise); a JPEG and a bitmap.
    const std::vector<std::pair<const char*, std::string>> pictures = {
        {"96 x 96 grey PNG (the 50 x 30 mm label's)", picture()},
        {"2000 x 1200 grey PNG", rendertest::pngBase64(2000, 1200, [&](int x, int y) {
             seed = seed * 1103515245u + 12345u;
             const int dx = x - 1000, dy = y - 600;
             const int ring = ((dx * dx + dy * dy) / 4000) % 2 == 0 ? 60 : 0;
             return static_cast<unsigned char>((x / 8 + y / 5 + ring + (seed >> 28)) & 0xFF);
         })},
        {"800 x 600 grey JPEG", rendertest::jpegBase64(800, 600, [](int x, int y) { return static_cast<unsigned char>((x ^ y) & 0xFF); })},
        {"800 x 600 grey BMP", rendertest::bmpBase64(800, 600, [](int x, int y) { return static_cast<unsigned char>((x * y) & 0xFF); })},
    };
    for (const auto& [name, base64] : pictures) {
        const std::vector<unsigned char> file = kvrender::decodeBase64(base64);
        const int rounds = file.size() > 100000 ? 10 : 200;
        size_t oldBytes = 0, newBytes = 0;
        Times old = timed(rounds, [&] { oldBytes = stbCoverage(file).size(); });
        Times now = timed(rounds, [&] {
            const std::optional<kvrender::Picture> p = kvrender::decodePictureBytes(file.data(), file.size());
            newBytes = p ? p->coverage.size() : 0;
        });
        std::printf("%-44s %8zu B file  stb_image %8.3f ms   renderer's reader %8.3f ms   ratio %.2f   coverage %zu / %zu B\n",
                    name, file.size(), old.median(), now.median(), now.median() / old.median(), oldBytes, newBytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : std::string(KV_BIN_DIR) + "/" + kPelixFileName;
    void* module = platform::loadLibraryFromPath(path);
    if (module == nullptr) {
        std::printf("cannot load %s\n", path.c_str());
        return 1;
    }
    auto generate = reinterpret_cast<Generate>(platform::findSymbol(module, "generateDataFromPrintJson"));
    auto release = reinterpret_cast<Free>(platform::findSymbol(module, "vFree"));
    const std::string label = typicalLabel();
    const std::string shipping = shippingLabel();
    std::printf("renderer %s\n", path.c_str());
    std::printf("label:    50 x 30 mm, a text, Code 128, QR code, line, rectangle and picture (label JSON %zu bytes)\n"
                "shipping: 100 x 150 mm, texts, Code 128, QR code, logo, frame and rules (label JSON %zu bytes)\n",
                label.size(), shipping.size());
    const long rssBefore = maxRssKb();
    for (float scale : {8.0f, 12.0f}) {
        for (int mode : {1, 0}) measure(generate, release, "label", label, scale, mode, 500);
    }
    for (int mode : {1, 0}) measure(generate, release, "shipping", shipping, 8.0f, mode, 100);
    std::printf("peak resident size %ld kB (%ld kB more than after loading)\n", maxRssKb(), maxRssKb() - rssBefore);

    std::printf("\nPNG of the preview pages at 8 dots/mm, cairo's writer against the renderer's own (medians):\n");
    comparePngWriters("label", previewCoverage(generate, release, label), false);
    comparePngWriters("shipping", previewCoverage(generate, release, shipping), true);

    std::printf("\npictures read into coverage, stb_image against the renderer's readers (medians):\n");
    compareReaders();
    return 0;
}
