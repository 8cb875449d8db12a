// The renderer's drawing core. A label is drawn into a coverage page (one byte a pixel, 0 = paper,
// 255 = ink); the output step turns that into the PNG of a preview or the packed rows of a print.
// Everything here runs under the renderer's one lock (exports.cpp): cairo's contexts and pango's
// font map are not shared between threads.
#pragma once

#include "simulator/renderer/label.h"
#include "simulator/renderer/pictures.h"

#include <cairo.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _PangoContext PangoContext;

namespace kvrender {

// Limits that keep any input within memory and within the coordinate range of cairo and pango.
inline constexpr int kMaxPageSide = 20000;
inline constexpr int64_t kMaxPagePixels = 100'000'000;
inline constexpr double kMaxCoordinate = 1'000'000.0;  // pixels from the page's corner

// A page being drawn: the coverage surface and what every element needs to know about it.
struct Page {
    cairo_surface_t* surface = nullptr;  // CAIRO_FORMAT_A8
    cairo_t* cr = nullptr;
    int width = 0;  // pixels
    int height = 0;
    double scale = 1.0;    // pixels per millimetre
    double offsetX = 0.0;  // the left and top margins, pixels
    double offsetY = 0.0;
    std::string boardFamily;          // family of the board's first font file, or empty
    PangoContext* pango = nullptr;    // made with the first text

    ~Page();
};

// An element's box in whole pixels of the page (before its rotation).
struct PixelBox {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;
    int rotate = 0;
};

// Rounds half up, the one rounding used for every pixel edge.
double snap(double pixels);
// Empty when the box reaches further from the page than cairo can draw.
std::optional<PixelBox> toPixels(const Page& page, const Box& box);
// Makes the box's top-left corner the origin, turned by its rotation about its centre.
void enterBox(cairo_t* cr, const PixelBox& box);

// The length of the human-readable text of a code; -1 when zint cannot encode the value.
int readableTextLength(int codeType, const std::string& value);

// Each draws its element and answers false when the element cannot be drawn (nothing to draw, a
// box of no size, a value its code cannot hold, a picture that does not decode).
bool drawText(Page& page, const PixelBox& box, const TextElement& text);
bool drawBarcode(Page& page, const PixelBox& box, const BarcodeElement& code);
bool drawQrcode(Page& page, const PixelBox& box, const QrcodeElement& code);
bool drawLine(Page& page, const PixelBox& box, const LineElement& line);
bool drawGraph(Page& page, const PixelBox& box, const GraphElement& graph);
bool drawImage(Page& page, const PixelBox& box, const ImageElement& image);

// One line of text centred in a rectangle of the current user space (a barcode's text band).
void drawCentredLine(Page& page, const std::string& text, double sizePixels, double x, double y, double width,
                     double height);
// The height of one line of the default family at that size, in pixels.
double lineHeight(Page& page, double sizePixels);

// ---- pictures ------------------------------------------------------------------------------

// Paints the picture stretched over the rectangle of the current user space. With a threshold,
// only the pixels darker than it become ink (decided after scaling, at the page's resolution).
void paintPicture(cairo_t* cr, const Picture& picture, double x, double y, double width, double height,
                  std::optional<double> threshold);

// ---- fonts ---------------------------------------------------------------------------------

// Adds a folder of font files to fontconfig; false when it cannot be read.
bool addFontFolder(const char* folder);
// The family of a font file (added to fontconfig on first use); empty when it is no font.
std::string familyOfFontFile(const std::string& path);

// ---- rendering -----------------------------------------------------------------------------

struct RenderOptions {
    int mode = 1;             // 1 PNG, 0 packed rows
    double scale = 8.0;       // pixels per millimetre
    double margin[4] = {0.0, 0.0, 0.0, 0.0};  // left, top, right, bottom (mm)
    int orientation = 0;      // 0, 90, 180, 270 clockwise
    int colour[4] = {255, 0, 0, 0};  // alpha, red, green, blue
};

struct RenderedPage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> data;
};

// Draws a label; empty when the text is no label or the page has no pixels or is too large.
std::optional<RenderedPage> renderLabel(std::string_view labelJson, const RenderOptions& options);
// Draws a label already read.
std::optional<RenderedPage> renderLabel(const Label& label, const RenderOptions& options);

}  // namespace kvrender
