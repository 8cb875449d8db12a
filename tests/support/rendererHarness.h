// Drives the renderer stand-in (libpelix_windows.so of the build) as the bridge does, and reads
// what it returns: the PNG of a preview decoded to grey levels, the packed rows of a print, the
// codes that zbarimg finds in an image. Also makes the pictures that labels carry.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sdk/thirdLibrary.h"

namespace rendertest {

// The renderer's exports, resolved once from the build's bin folder.
struct Renderer {
#define KV_RENDER_POINTER(name, result, params) result(*name) params = nullptr;
    KV_PELIX_EXPORTS(KV_RENDER_POINTER)
#undef KV_RENDER_POINTER
    static const Renderer& get();
};

struct Options {
    int mode = 1;
    float scale = 8.0f;
    float margin[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int orientation = 0;
    int colour[4] = {255, 0, 0, 0};
    bool withMargin = true;  // false passes a null margin pointer
};

// What a render returned, copied out of the record before it was handed to vFree.
struct Rendered {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> data;
};
std::optional<Rendered> render(const std::string& labelJson, const Options& options = {});

// A page as grey levels (0 black .. 255 white), or as colours for the colour test.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<unsigned char> pixels;
    unsigned char at(int x, int y, int channel = 0) const {
        return pixels[(static_cast<size_t>(y) * width + x) * channels + channel];
    }
    bool ink(int x, int y) const { return at(x, y) < 128; }
};
std::optional<Image> decodePng(const std::vector<unsigned char>& png, int channels = 1);
// Renders in mode 1 and decodes the PNG; fails the test when nothing came back.
Image preview(const std::string& labelJson, Options options = {});
// The packed rows of mode 0 as an image (ink black).
Image unpack(const Rendered& rows);

// Pixel rectangle, right and bottom exclusive.
struct Rect {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    bool contains(const Rect& other) const {
        return other.x0 >= x0 && other.y0 >= y0 && other.x1 <= x1 && other.y1 <= y1;
    }
};
std::optional<Rect> inkBounds(const Image& image);
int inkCount(const Image& image, const Rect& area);
int inkCount(const Image& image);

// Label JSON: a label of that size (mm) holding the elements.
std::string label(double width, double height, const std::vector<Json::Value>& elements,
                  const std::vector<std::string>& fontFiles = {});
Json::Value element(const std::string& type, double x, double y, double width, double height);

// The values that zbarimg reads from a PNG (written under the tests' folder with that name).
std::vector<std::string> scanCodes(const std::vector<unsigned char>& png, const std::string& name);

// Pictures as base64 text: grey levels from a function of the pixel, optionally with alpha.
using Shade = std::function<unsigned char(int x, int y)>;
std::string pngBase64(int width, int height, const Shade& grey, const Shade& alpha = nullptr);
std::string bmpBase64(int width, int height, const Shade& grey, bool topDown = false);
// An icon of one image: a 24-bit bitmap with its AND mask (set bits transparent), or a PNG.
std::string icoBase64(int width, int height, const Shade& grey, const Shade& transparent = nullptr, bool png = false);
std::string jpegBase64(int width, int height, const Shade& grey);
std::string gifBase64(int width, int height, const Shade& grey);  // black or white by grey < 128
std::string base64(const std::vector<unsigned char>& bytes);
// Pictures whose header promises a picture that their bytes do not hold (named for the tests'
// messages): a 33-byte PNG of 9000 x 9000 pixels; GIF, JPEG, ICO and BMP files of 16 x 16 pixels
// cut after their headers; a JPEG cut after its scan's header.
std::vector<std::pair<std::string, std::string>> headerOnlyPictures();
std::vector<unsigned char> fromBase64(const std::string& text);

// A folder under the tests' folder, emptied.
std::string scratchFolder(const std::string& name);

}  // namespace rendertest
