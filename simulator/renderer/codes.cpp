// Barcodes and 2-D codes: zint encodes, and the modules are drawn here as whole-pixel rectangles,
// so that the bars of a print stay as crisp as the printer's dots.
#include "simulator/renderer/render.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace kvrender {

namespace {

struct SymbolDeleter {
    void operator()(zint_symbol* symbol) const { ZBarcode_Delete(symbol); }
};
using Symbol = std::unique_ptr<zint_symbol, SymbolDeleter>;

constexpr int kMaxRows = 200;      // zint's rows of encoded_data
constexpr int kMaxColumns = 1152;  // zint's modules a row

// Null when zint does not know the symbology or cannot encode the value in it.
Symbol encode(int codeType, const std::string& value, int correctLevel) {
    if (value.empty() || value.size() > ZINT_MAX_DATA_LEN || !ZBarcode_ValidID(codeType)) return nullptr;
    Symbol symbol(ZBarcode_Create());
    if (!symbol) return nullptr;
    symbol->symbology = codeType;
    symbol->input_mode = UNICODE_MODE;
    if (correctLevel > 0) symbol->option_1 = correctLevel;
    const int result = ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(value.data()),
                                       static_cast<int>(value.size()));
    if (result >= ZINT_ERROR) return nullptr;
    if (symbol->rows <= 0 || symbol->rows > kMaxRows || symbol->width <= 0 || symbol->width > kMaxColumns) {
        return nullptr;
    }
    return symbol;
}

bool moduleIsSet(const zint_symbol& symbol, int row, int column) {
    return (symbol.encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

// The height of each row in modules as zint gives it (rows without a height count as one).
std::vector<double> rowUnits(const zint_symbol& symbol) {
    std::vector<double> units(static_cast<size_t>(symbol.rows), 1.0);
    for (int row = 0; row < symbol.rows; ++row) {
        const double height = symbol.row_height[row];
        if (std::isfinite(height) && height > 0.0) units[static_cast<size_t>(row)] = height;
    }
    return units;
}

// Fills the set modules into the rectangle, each run of set modules in a row as one rectangle
// whose edges are snapped to pixels.
void fillModules(cairo_t* cr, const zint_symbol& symbol, double x, double y, double width, double height) {
    const std::vector<double> units = rowUnits(symbol);
    double total = 0.0;
    for (double unit : units) total += unit;
    const double moduleWidth = width / symbol.width;
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    double done = 0.0;
    for (int row = 0; row < symbol.rows; ++row) {
        const double top = snap(y + done / total * height);
        done += units[static_cast<size_t>(row)];
        const double bottom = snap(y + done / total * height);
        if (bottom <= top) continue;
        for (int column = 0; column < symbol.width;) {
            if (!moduleIsSet(symbol, row, column)) {
                ++column;
                continue;
            }
            const int first = column;
            while (column < symbol.width && moduleIsSet(symbol, row, column)) ++column;
            const double left = snap(x + first * moduleWidth);
            const double right = snap(x + column * moduleWidth);
            if (right > left) cairo_rectangle(cr, left, top, right - left, bottom - top);
        }
    }
    cairo_fill(cr);
    cairo_restore(cr);
}

// The widest whole number of dots a module can take when `modules` of them share `room` dots;
// below one dot a module, the exact share (the code is then scaled to fit and will hardly scan).
double moduleDots(double room, double modules) {
    const double share = room / modules;
    return share >= 1.0 ? std::floor(share) : share;
}

struct Placed {
    double left = 0.0;
    double top = 0.0;
    double width = 0.0;
    double height = 0.0;
};

// Square modules of whole dots, as large as fit the rectangle, the symbol centred in it.
Placed placeSquare(cairo_t* cr, const zint_symbol& symbol, double x, double y, double width, double height) {
    double heightUnits = 0.0;
    for (double unit : rowUnits(symbol)) heightUnits += unit;
    const double module = std::min(moduleDots(width, symbol.width), moduleDots(height, heightUnits));
    Placed placed;
    placed.width = module * symbol.width;
    placed.height = module * heightUnits;
    placed.left = x + snap((width - placed.width) / 2.0);
    placed.top = y + snap((height - placed.height) / 2.0);
    fillModules(cr, symbol, placed.left, placed.top, placed.width, placed.height);
    return placed;
}

// The human-readable text as zint writes it (with check digits and start characters), or the value.
std::string readableText(const zint_symbol& symbol, const std::string& value) {
    const auto* text = reinterpret_cast<const char*>(symbol.text);
    const size_t length = strnlen(text, sizeof(symbol.text));
    return length > 0 ? std::string(text, length) : value;
}

}  // namespace

int readableTextLength(int codeType, const std::string& value) {
    const Symbol symbol = encode(codeType, value, 0);
    if (!symbol) return -1;
    return static_cast<int>(readableText(*symbol, value).size());
}

bool drawBarcode(Page& page, const PixelBox& box, const BarcodeElement& code) {
    if (box.width <= 0.0 || box.height <= 0.0) return false;
    const Symbol symbol = encode(code.codeType, code.value, 0);
    if (!symbol) return false;
    enterBox(page.cr, box);

    const bool withText = code.fontSize > 0.0 && (code.textPosition == 1 || code.textPosition == 2);
    const double fontPixels = code.fontSize * 25.4 / 72.0 * page.scale;
    double band = 0.0;
    if (withText) {
        band = code.textHeight > 0.0 ? code.textHeight * page.scale : lineHeight(page, fontPixels);
        band = std::min(snap(band), box.height);
    }
    const double barsTop = code.textPosition == 2 ? band : 0.0;
    const double barsHeight = box.height - band;
    if (barsHeight > 0.0 && symbol->rows > 1) {
        placeSquare(page.cr, *symbol, 0.0, barsTop, box.width, barsHeight);  // a stacked or 2-D code
    } else if (barsHeight > 0.0) {
        // Bars as tall as there is room, every module the same whole number of dots wide, centred.
        const double width = moduleDots(box.width, symbol->width) * symbol->width;
        fillModules(page.cr, *symbol, snap((box.width - width) / 2.0), barsTop, width, barsHeight);
    }
    if (withText && band > 0.0) {
        const double textTop = code.textPosition == 2 ? 0.0 : barsHeight;
        drawCentredLine(page, readableText(*symbol, code.value), fontPixels, 0.0, textTop, box.width, band);
    }
    return true;
}

bool drawQrcode(Page& page, const PixelBox& box, const QrcodeElement& code) {
    if (box.width <= 0.0 || box.height <= 0.0) return false;
    const int level = code.correctLevel >= 1 && code.correctLevel <= 4 ? code.correctLevel : 2;
    const Symbol symbol = encode(code.codeType, code.value, code.codeType == BARCODE_QRCODE ? level : 0);
    if (!symbol) return false;
    enterBox(page.cr, box);

    const Placed placed = placeSquare(page.cr, *symbol, 0.0, 0.0, box.width, box.height);
    const double left = placed.left;
    const double top = placed.top;
    const double width = placed.width;
    const double height = placed.height;

    if (!code.logoBase64 || code.logoBase64->empty() || code.logoPosition != 0) return true;  // a logo that cannot be drawn leaves the code without one
    const std::optional<Picture> logo = decodePicture(*code.logoBase64);
    if (!logo) return true;  // a logo that cannot be drawn leaves the code without one
    const double share = code.logoScale <= 0.0 ? 0.2 : std::min(code.logoScale, 0.3);
    double logoWidth = width * share;
    double logoHeight = logoWidth * logo->height / logo->width;
    if (logoHeight > height * share) {
        logoHeight = height * share;
        logoWidth = logoHeight * logo->width / logo->height;
    }
    logoWidth = snap(logoWidth);
    logoHeight = snap(logoHeight);
    if (logoWidth <= 0.0 || logoHeight <= 0.0) return true;  // a logo that cannot be drawn leaves the code without one
    const double logoLeft = snap(left + (width - logoWidth) / 2.0);
    const double logoTop = snap(top + (height - logoHeight) / 2.0);
    // The modules under the logo are cleared, so the logo reads as it is drawn.
    cairo_save(page.cr);
    cairo_set_operator(page.cr, CAIRO_OPERATOR_CLEAR);
    cairo_rectangle(page.cr, logoLeft, logoTop, logoWidth, logoHeight);
    cairo_fill(page.cr);
    cairo_restore(page.cr);
    paintPicture(page.cr, *logo, logoLeft, logoTop, logoWidth, logoHeight, 127.0);
    return true;
}

}  // namespace kvrender
