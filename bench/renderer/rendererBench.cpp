// Renders a 50 x 30 mm label (a text, a Code 128 barcode, a QR code, a line, a rectangle and a
// picture) through the renderer's generateDataFromPrintJson, as the bridge calls it, and prints
// the time per render and the memory it takes. It prints figures only; it checks nothing.
#include <json/json.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sdk/thirdLibrary.h"
#include "tests/support/rendererHarness.h"

namespace {

using Generate = RenderedImage* (*)(const char*, int32_t, float, float, const float*, void*, int32_t,
                                    const int32_t*);
using Free = void (*)(RenderedImage*);

using rendertest::element;

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

long maxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void measure(Generate generate, Free release, const std::string& label, float scale, int mode) {
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

    constexpr int kRounds = 500;
    std::vector<double> times;
    times.reserve(kRounds);
    const size_t heapStart = mallinfo2().uordblks;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        RenderedImage* image = once();
        const auto end = std::chrono::steady_clock::now();
        release(image);
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    const long long heapGrowth = static_cast<long long>(mallinfo2().uordblks) - static_cast<long long>(heapStart);
    std::sort(times.begin(), times.end());
    double total = 0;
    for (double t : times) total += t;
    std::printf("%5.1f dots/mm %-7s %4d x %-4d  median %6.3f ms  mean %6.3f ms  p95 %6.3f ms  min %6.3f ms  "
                "result %7d B  held per record %8zu B  heap growth per render %6.1f B\n",
                scale, mode == 1 ? "preview" : "print", width, height, times[kRounds / 2], total / kRounds,
                times[kRounds * 95 / 100], times.front(), bytes, heapHeld,
                static_cast<double>(heapGrowth) / kRounds);
}

}  // namespace

int main() {
    const std::string path = std::string(KV_BIN_DIR) + "/" + kPelixFileName;
    void* module = platform::loadLibraryFromPath(path);
    if (module == nullptr) {
        std::printf("cannot load %s\n", path.c_str());
        return 1;
    }
    auto generate = reinterpret_cast<Generate>(platform::findSymbol(module, "generateDataFromPrintJson"));
    auto release = reinterpret_cast<Free>(platform::findSymbol(module, "vFree"));
    const std::string label = typicalLabel();
    std::printf("renderer: a 50 x 30 mm label with a text, Code 128, QR code, line, rectangle and picture "
                "(label JSON %zu bytes), 500 renders each\n",
                label.size());
    const long rssBefore = maxRssKb();
    for (float scale : {8.0f, 12.0f}) {
        for (int mode : {1, 0}) measure(generate, release, label, scale, mode);
    }
    std::printf("peak resident size %ld kB (%ld kB more than after loading)\n", maxRssKb(), maxRssKb() - rssBefore);
    return 0;
}
