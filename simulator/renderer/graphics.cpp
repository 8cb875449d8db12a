// Lines and shapes with cairo. Edges that run along the pixel grid are drawn without smoothing,
// so a print gets them exactly as wide as asked.
#include "simulator/renderer/render.h"

#include <algorithm>
#include <cmath>

namespace kvrender {

namespace {

// More dashes than this along one line or outline are drawn as a solid stroke.
constexpr double kMaxDashes = 1'000'000.0;

bool isQuarterTurn(const PixelBox& box) { return box.rotate % 90 == 0; }

struct DashPixels {
    double dash = 0.0;
    double gap = 0.0;
    bool visible = true;
    bool solid = true;
};

// A line's dashes in pixels: [0, 0] means 1 mm dashes with 1 mm gaps.
DashPixels dashPixels(const Page& page, int lineType, const Dash& dash, double length) {
    DashPixels out;
    if (lineType != 1) return out;
    out.dash = std::max(0.0, dash.dash) * page.scale;
    out.gap = std::max(0.0, dash.gap) * page.scale;
    if (out.dash == 0.0 && out.gap == 0.0) out.dash = out.gap = page.scale;
    if (out.dash <= 0.0) {
        out.visible = false;  // all gap
        return out;
    }
    out.solid = out.gap <= 0.0 || length / (out.dash + out.gap) > kMaxDashes;
    return out;
}

void roundedRectangle(cairo_t* cr, double x, double y, double width, double height, double radius) {
    if (radius <= 0.0) {
        cairo_rectangle(cr, x, y, width, height);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + width - radius, y + radius, radius, -M_PI / 2.0, 0.0);
    cairo_arc(cr, x + width - radius, y + height - radius, radius, 0.0, M_PI / 2.0);
    cairo_arc(cr, x + radius, y + height - radius, radius, M_PI / 2.0, M_PI);
    cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3.0 * M_PI / 2.0);
    cairo_close_path(cr);
}

void ellipse(cairo_t* cr, double x, double y, double width, double height) {
    cairo_save(cr);
    cairo_translate(cr, x + width / 2.0, y + height / 2.0);
    cairo_scale(cr, width / 2.0, height / 2.0);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0.0, 0.0, 1.0, 0.0, 2.0 * M_PI);
    cairo_restore(cr);
}

enum class Shape { rectangle, roundedRectangle, ellipse };

void shapePath(cairo_t* cr, Shape shape, double x, double y, double width, double height, double radius) {
    if (shape == Shape::ellipse) {
        ellipse(cr, x, y, width, height);
    } else {
        roundedRectangle(cr, x, y, width, height, shape == Shape::roundedRectangle ? radius : 0.0);
    }
}

}  // namespace

bool drawLine(Page& page, const PixelBox& box, const LineElement& line) {
    const bool across = box.width >= box.height;  // along the longer side
    const double length = across ? box.width : box.height;
    const double side = across ? box.height : box.width;
    if (length <= 0.0) return false;
    const double thickness = std::max(1.0, side);
    const DashPixels dash = dashPixels(page, line.lineType, line.dash, length);
    if (!dash.visible) return true;  // all gap, as asked

    cairo_t* cr = page.cr;
    enterBox(cr, box);
    if (isQuarterTurn(box)) cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    const double offset = snap((side - thickness) / 2.0);
    auto segment = [&](double from, double to) {
        if (across) {
            cairo_rectangle(cr, from, offset, to - from, thickness);
        } else {
            cairo_rectangle(cr, offset, from, thickness, to - from);
        }
    };
    if (dash.solid) {
        segment(0.0, length);
    } else {
        const double period = dash.dash + dash.gap;
        for (double k = 0.0;; k += 1.0) {
            const double from = snap(k * period);
            if (from >= length) break;
            const double to = std::min(length, snap(k * period + dash.dash));
            if (to > from) segment(from, to);
        }
    }
    cairo_fill(cr);
    return true;
}

bool drawGraph(Page& page, const PixelBox& box, const GraphElement& graph) {
    if (box.width <= 0.0 || box.height <= 0.0) return false;
    if (graph.graphType < 1 || graph.graphType > 6) return false;
    bool filled = graph.graphType >= 4;
    const Shape shape = static_cast<Shape>((graph.graphType - 1) % 3);
    const double shorter = std::min(box.width, box.height);
    const double lineWidth = std::max(1.0, snap((graph.lineWidth > 0.0 ? graph.lineWidth : 0.3) * page.scale));
    // An outline this wide covers the whole shape.
    if (2.0 * lineWidth >= shorter) filled = true;
    const double radius = std::clamp(graph.cornerRadius * page.scale, 0.0, shorter / 2.0);

    cairo_t* cr = page.cr;
    enterBox(cr, box);
    if (shape == Shape::rectangle && isQuarterTurn(box)) cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    if (filled) {
        shapePath(cr, shape, 0.0, 0.0, box.width, box.height, radius);
        cairo_fill(cr);
        return true;
    }
    const DashPixels dash = dashPixels(page, graph.lineType, graph.dash, 2.0 * (box.width + box.height));
    if (!dash.visible) return true;
    // The outline lies inside the box.
    const double inset = lineWidth / 2.0;
    shapePath(cr, shape, inset, inset, box.width - lineWidth, box.height - lineWidth,
              std::max(0.0, radius - inset));
    cairo_set_line_width(cr, lineWidth);
    if (!dash.solid) {
        const double pattern[2] = {dash.dash, dash.gap};
        cairo_set_dash(cr, pattern, 2, 0.0);
    }
    cairo_stroke(cr);
    return true;
}

}  // namespace kvrender
