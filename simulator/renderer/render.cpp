// The page: its size, margins and clip, the boxes of its elements, and the drawing of a label.
#include "simulator/renderer/output.h"
#include "simulator/renderer/render.h"

#include <glib-object.h>

#include <cmath>
#include <cstring>

namespace kvrender {

Page::~Page() {
    if (pango != nullptr) g_object_unref(pango);
    if (cr != nullptr) cairo_destroy(cr);
    if (surface != nullptr) cairo_surface_destroy(surface);
}

double snap(double pixels) { return std::floor(pixels + 0.5); }

std::optional<PixelBox> toPixels(const Page& page, const Box& box) {
    const double x0 = snap(page.offsetX + box.x * page.scale);
    const double y0 = snap(page.offsetY + box.y * page.scale);
    const double x1 = snap(page.offsetX + (box.x + box.width) * page.scale);
    const double y1 = snap(page.offsetY + (box.y + box.height) * page.scale);
    for (double edge : {x0, y0, x1, y1}) {
        if (!(std::fabs(edge) <= kMaxCoordinate)) return std::nullopt;
    }
    return PixelBox{x0, y0, x1 - x0, y1 - y0, box.rotate % 360};
}

void enterBox(cairo_t* cr, const PixelBox& box) {
    if (box.rotate == 0) {
        cairo_translate(cr, box.x, box.y);
        return;
    }
    const double cx = box.x + box.width / 2.0;
    const double cy = box.y + box.height / 2.0;
    cairo_translate(cr, cx, cy);
    // Quarter turns exactly, so that pixel edges stay on pixel edges.
    const int quarter = ((box.rotate % 360) + 360) % 360;
    cairo_matrix_t turn;
    if (quarter == 90) {
        cairo_matrix_init(&turn, 0, 1, -1, 0, 0, 0);
    } else if (quarter == 180) {
        cairo_matrix_init(&turn, -1, 0, 0, -1, 0, 0);
    } else if (quarter == 270) {
        cairo_matrix_init(&turn, 0, -1, 1, 0, 0, 0);
    } else {
        cairo_matrix_init_rotate(&turn, box.rotate * M_PI / 180.0);
    }
    cairo_transform(cr, &turn);
    cairo_translate(cr, -box.width / 2.0, -box.height / 2.0);
}

namespace {

bool validSize(double millimetres, double scale, int& pixels) {
    const double exact = millimetres * scale;
    if (!std::isfinite(exact) || exact > kMaxPageSide + 1.0) return false;
    pixels = static_cast<int>(snap(exact));
    return pixels > 0 && pixels <= kMaxPageSide;
}

double marginPixels(double millimetres, double scale, int side) {
    if (!std::isfinite(millimetres) || millimetres <= 0.0) return 0.0;
    return std::min(snap(millimetres * scale), static_cast<double>(side));
}

// A fresh context on the page with the content area as its clip.
bool startContext(Page& page, double right, double bottom) {
    if (page.cr != nullptr) cairo_destroy(page.cr);
    page.cr = cairo_create(page.surface);
    if (cairo_status(page.cr) != CAIRO_STATUS_SUCCESS) return false;
    cairo_rectangle(page.cr, page.offsetX, page.offsetY, std::max(0.0, right - page.offsetX),
                    std::max(0.0, bottom - page.offsetY));
    cairo_clip(page.cr);
    cairo_set_source_rgba(page.cr, 0, 0, 0, 1);
    return true;
}

struct ElementDrawer {
    Page& page;
    const PixelBox& box;
    bool operator()(const UnknownElement&) const { return false; }
    bool operator()(const TextElement& text) const { return drawText(page, box, text); }
    bool operator()(const BarcodeElement& code) const { return drawBarcode(page, box, code); }
    bool operator()(const QrcodeElement& code) const { return drawQrcode(page, box, code); }
    bool operator()(const LineElement& line) const { return drawLine(page, box, line); }
    bool operator()(const GraphElement& graph) const { return drawGraph(page, box, graph); }
    bool operator()(const ImageElement& image) const { return drawImage(page, box, image); }
};

}  // namespace

std::optional<RenderedPage> renderLabel(const Label& label, const RenderOptions& options) {
    if (!std::isfinite(options.scale) || options.scale <= 0.0) return std::nullopt;
    Page page;
    page.scale = options.scale;
    if (!validSize(label.width, page.scale, page.width) || !validSize(label.height, page.scale, page.height)) {
        return std::nullopt;
    }
    if (static_cast<int64_t>(page.width) * page.height > kMaxPagePixels) return std::nullopt;

    page.surface = cairo_image_surface_create(CAIRO_FORMAT_A8, page.width, page.height);
    if (cairo_surface_status(page.surface) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    page.offsetX = marginPixels(options.margin[0], page.scale, page.width);
    page.offsetY = marginPixels(options.margin[1], page.scale, page.height);
    const double right = page.width - marginPixels(options.margin[2], page.scale, page.width);
    const double bottom = page.height - marginPixels(options.margin[3], page.scale, page.height);
    if (!startContext(page, right, bottom)) return std::nullopt;
    if (!label.fontFiles.empty()) page.boardFamily = familyOfFontFile(label.fontFiles.front());

    for (const Element& element : label.elements) {
        const std::optional<PixelBox> box = toPixels(page, element.box);
        bool drawn = false;
        if (box) {
            cairo_save(page.cr);
            drawn = std::visit(ElementDrawer{page, *box}, element.content);
            cairo_restore(page.cr);
        }
        // A context in error draws nothing more; the next element gets a fresh one.
        if (cairo_status(page.cr) != CAIRO_STATUS_SUCCESS) {
            drawn = false;
            if (!label.strict && !startContext(page, right, bottom)) break;
        }
        if (!drawn && label.strict) return std::nullopt;
    }
    cairo_surface_flush(page.surface);

    Coverage coverage;
    coverage.width = page.width;
    coverage.height = page.height;
    coverage.pixels.resize(static_cast<size_t>(page.width) * page.height);
    const unsigned char* data = cairo_image_surface_get_data(page.surface);
    const int stride = cairo_image_surface_get_stride(page.surface);
    for (int y = 0; y < page.height; ++y) {
        std::memcpy(coverage.pixels.data() + static_cast<size_t>(y) * page.width,
                    data + static_cast<size_t>(y) * stride, page.width);
    }
    coverage = turnPage(std::move(coverage), options.orientation);

    RenderedPage out;
    out.width = coverage.width;
    out.height = coverage.height;
    if (options.mode == 0) {
        out.data = packRows(coverage);
    } else {
        std::optional<std::vector<unsigned char>> png = encodePng(coverage, options.colour);
        if (!png) return std::nullopt;
        out.data = std::move(*png);
    }
    return out;
}

std::optional<RenderedPage> renderLabel(std::string_view labelJson, const RenderOptions& options) {
    const std::optional<Label> label = readLabel(labelJson);
    if (!label) return std::nullopt;
    return renderLabel(*label, options);
}

}  // namespace kvrender
