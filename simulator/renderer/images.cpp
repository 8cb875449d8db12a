// Pictures painted into their box (decoded by pictures.cpp), in grey levels or black and white by
// a threshold.
#include "simulator/renderer/render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace kvrender {

namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// The picture as an A8 surface over its own coverage (which must outlive the surface).
Surface pictureSurface(const Picture& picture) {
    return Surface(cairo_image_surface_create_for_data(const_cast<unsigned char*>(picture.coverage.data()),
                                                       CAIRO_FORMAT_A8, picture.width, picture.height,
                                                       picture.stride));
}

// True when a picture pixel lands on about one page pixel, turned by right angles at most: a picture
// printed as the whole label, whose size in millimetres is cut to whole ones. Filtering then only
// blurs what it resamples, and it is the most costly part of printing a large picture.
bool nearlyOwnSize(const cairo_matrix_t& m) {
    const bool straight = (m.xy == 0.0 && m.yx == 0.0) || (m.xx == 0.0 && m.yy == 0.0);
    const double scaleX = std::hypot(m.xx, m.yx);
    const double scaleY = std::hypot(m.xy, m.yy);
    constexpr double kTolerance = 1.0 / 64.0;
    return straight && std::abs(scaleX - 1.0) <= kTolerance && std::abs(scaleY - 1.0) <= kTolerance;
}

// The picture stretched over the rectangle of the current user space as a pattern source.
void setPictureSource(cairo_t* cr, cairo_surface_t* surface, const Picture& picture, double x, double y,
                      double width, double height) {
    cairo_rectangle(cr, x, y, width, height);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, width / picture.width, height / picture.height);
    cairo_set_source_surface(cr, surface, 0.0, 0.0);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    // Padding keeps the edge pixels whole up to the box's edge instead of fading out.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_matrix_t toPage;
    cairo_get_matrix(cr, &toPage);
    cairo_pattern_set_filter(pattern, nearlyOwnSize(toPage) ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
}

// The picture print's case, the largest picture there is: the picture's pixels land on about one
// page pixel each, unturned, and its rectangle on whole page pixels. Each scratch pixel then takes
// the nearest picture pixel directly, as cairo's nearest filter would, without its general
// resampling. False when the case does not apply.
bool sampleStraight(const cairo_matrix_t& toPage, const Picture& picture, double x, double y, double width,
                    double height, int x0, int y0, cairo_surface_t* scratch) {
    cairo_matrix_t m = toPage;
    cairo_matrix_translate(&m, x, y);
    cairo_matrix_scale(&m, width / picture.width, height / picture.height);
    if (m.xy != 0.0 || m.yx != 0.0 || m.xx < 0.0 || m.yy < 0.0 || !nearlyOwnSize(m)) return false;
    const auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-6; };
    if (!whole(m.x0) || !whole(m.y0) || !whole(m.x0 + m.xx * picture.width) || !whole(m.y0 + m.yy * picture.height)) {
        return false;
    }
    const int columns = cairo_image_surface_get_width(scratch);
    const int rows = cairo_image_surface_get_height(scratch);
    std::vector<int> sourceColumn(static_cast<size_t>(columns));
    for (int column = 0; column < columns; ++column) {
        const double source = std::floor((x0 + column + 0.5 - m.x0) / m.xx);
        sourceColumn[static_cast<size_t>(column)] = static_cast<int>(std::clamp(source, 0.0, picture.width - 1.0));
    }
    cairo_surface_flush(scratch);
    unsigned char* data = cairo_image_surface_get_data(scratch);
    const int stride = cairo_image_surface_get_stride(scratch);
    for (int row = 0; row < rows; ++row) {
        const double source = std::floor((y0 + row + 0.5 - m.y0) / m.yy);
        const int sourceRow = static_cast<int>(std::clamp(source, 0.0, picture.height - 1.0));
        const unsigned char* from = picture.coverage.data() + static_cast<size_t>(sourceRow) * picture.stride;
        unsigned char* to = data + static_cast<size_t>(row) * stride;
        for (int column = 0; column < columns; ++column) to[column] = from[sourceColumn[static_cast<size_t>(column)]];
    }
    cairo_surface_mark_dirty(scratch);
    return true;
}

}  // namespace

void paintPicture(cairo_t* cr, const Picture& picture, double x, double y, double width, double height,
                  std::optional<double> threshold) {
    if (width <= 0.0 || height <= 0.0) return;
    const Surface source = pictureSurface(picture);
    if (cairo_surface_status(source.get()) != CAIRO_STATUS_SUCCESS) return;

    if (!threshold) {
        cairo_save(cr);
        setPictureSource(cr, source.get(), picture, x, y, width, height);
        cairo_pattern_t* pattern = cairo_pattern_reference(cairo_get_source(cr));
        cairo_set_source_rgba(cr, 0, 0, 0, 1);
        cairo_mask(cr, pattern);
        cairo_pattern_destroy(pattern);
        cairo_restore(cr);
        return;
    }

    // Black and white is decided at the page's resolution: the picture is scaled in grey levels
    // into a scratch surface over the pixels it covers, then cut at the threshold.
    cairo_surface_t* target = cairo_get_target(cr);
    const int pageWidth = cairo_image_surface_get_width(target);
    const int pageHeight = cairo_image_surface_get_height(target);
    double left = std::numeric_limits<double>::max();
    double top = left;
    double right = -left;
    double bottom = -left;
    const double corners[4][2] = {{x, y}, {x + width, y}, {x, y + height}, {x + width, y + height}};
    for (const auto& corner : corners) {
        double dx = corner[0];
        double dy = corner[1];
        cairo_user_to_device(cr, &dx, &dy);
        left = std::min(left, dx);
        right = std::max(right, dx);
        top = std::min(top, dy);
        bottom = std::max(bottom, dy);
    }
    const int x0 = static_cast<int>(std::clamp(std::floor(left), 0.0, static_cast<double>(pageWidth)));
    const int y0 = static_cast<int>(std::clamp(std::floor(top), 0.0, static_cast<double>(pageHeight)));
    const int x1 = static_cast<int>(std::clamp(std::ceil(right), 0.0, static_cast<double>(pageWidth)));
    const int y1 = static_cast<int>(std::clamp(std::ceil(bottom), 0.0, static_cast<double>(pageHeight)));
    if (x1 <= x0 || y1 <= y0) return;

    const Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_A8, x1 - x0, y1 - y0));
    if (cairo_surface_status(scratch.get()) != CAIRO_STATUS_SUCCESS) return;
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    if (!sampleStraight(matrix, picture, x, y, width, height, x0, y0, scratch.get())) {
        cairo_t* scratchCr = cairo_create(scratch.get());
        matrix.x0 -= x0;
        matrix.y0 -= y0;
        cairo_set_matrix(scratchCr, &matrix);
        setPictureSource(scratchCr, source.get(), picture, x, y, width, height);
        cairo_paint(scratchCr);
        const bool drawn = cairo_status(scratchCr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(scratchCr);
        if (!drawn) return;
    }

    cairo_surface_flush(scratch.get());
    unsigned char* data = cairo_image_surface_get_data(scratch.get());
    const int stride = cairo_image_surface_get_stride(scratch.get());
    // Darker than the threshold: grey level 255 - coverage below it.
    const double cut = 255.0 - std::clamp(*threshold, 0.0, 255.0);
    for (int row = 0; row < y1 - y0; ++row) {
        unsigned char* pixel = data + static_cast<size_t>(row) * stride;
        for (int column = 0; column < x1 - x0; ++column) pixel[column] = pixel[column] > cut ? 255 : 0;
    }
    cairo_surface_mark_dirty(scratch.get());

    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_mask_surface(cr, scratch.get(), x0, y0);
    cairo_restore(cr);
}

bool drawImage(Page& page, const PixelBox& box, const ImageElement& image) {
    if (box.width <= 0.0 || box.height <= 0.0 || image.imageData.empty()) return false;
    const std::optional<Picture> picture = decodePicture(image.imageData);
    if (!picture) return false;
    enterBox(page.cr, box);
    std::optional<double> threshold;
    if (image.mode == 1) threshold = image.threshold;
    paintPicture(page.cr, *picture, 0.0, 0.0, box.width, box.height, threshold);
    return true;
}

}  // namespace kvrender
