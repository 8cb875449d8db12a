// Text elements with pango, and the fonts they are drawn in: the folders added by
// initFontsFilePath and the board's font files go into fontconfig; DejaVu Sans stands in for
// every family that is not found.
#include "simulator/renderer/render.h"
#include "platform/utf8.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

namespace kvrender {

namespace {

constexpr const char* kFallbackFamily = "DejaVu Sans";
// Letter and line spacings beyond this many pixels would overflow pango's units.
constexpr double kMaxSpacing = 100000.0;
// The smallest font size (mm) of which all that can show is laid out; of a smaller text, what can
// show of a text of this size.
constexpr double kSmallestShownSize = 0.25;

PangoFontMap* fontMap() {
    // One font map for the life of the process: it holds fontconfig's and cairo's font caches.
    static PangoFontMap* map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    return map;
}

void fontsChanged() {
    PangoFontMap* map = fontMap();
    if (map != nullptr && PANGO_IS_FC_FONT_MAP(map)) pango_fc_font_map_config_changed(PANGO_FC_FONT_MAP(map));
}

bool isFolder(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Pango takes only valid UTF-8 without zero bytes; each faulty sequence and each zero byte
// becomes one U+FFFD.
std::string validText(std::string_view text) {
    std::string valid = platform::validUtf8(text);
    if (valid.find('\0') == std::string::npos) return valid;
    std::string out;
    out.reserve(valid.size() + 8);
    for (const char c : valid) {
        if (c == '\0') {
            out += "\xEF\xBF\xBD";
        } else {
            out += c;
        }
    }
    return out;
}

std::string familyList(const Page& page, const std::string& requested) {
    const std::string& family = requested.empty() ? page.boardFamily : requested;
    if (family.empty()) return kFallbackFamily;
    return validText(family) + "," + kFallbackFamily;
}

PangoContext* pangoContext(Page& page) {
    if (page.pango != nullptr) return page.pango;
    PangoFontMap* map = fontMap();
    if (map == nullptr) return nullptr;
    page.pango = pango_font_map_create_context(map);
    // Unhinted metrics and unrounded glyph positions: a text takes the same share of its box at
    // every scale, so a preview shows what the printer gets.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(page.pango, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(page.pango, FALSE);
    return page.pango;
}

struct LayoutDeleter {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using Layout = std::unique_ptr<PangoLayout, LayoutDeleter>;

struct FontDeleter {
    void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};
using Font = std::unique_ptr<PangoFontDescription, FontDeleter>;

Font makeFont(const std::string& families, double sizePixels, bool bold, bool italic) {
    Font font(pango_font_description_new());
    pango_font_description_set_family(font.get(), families.c_str());
    pango_font_description_set_weight(font.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font.get(), italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(font.get(), sizePixels * PANGO_SCALE);
    return font;
}

// A layout for the current transformation of `cr` (pango picks its glyphs for it), of a text
// already valid.
Layout makeValidLayout(Page& page, cairo_t* cr, const std::string& valid) {
    PangoContext* context = pangoContext(page);
    if (context == nullptr) return nullptr;
    pango_cairo_update_context(cr, context);
    Layout layout(pango_layout_new(context));
    pango_layout_set_text(layout.get(), valid.data(), static_cast<int>(valid.size()));
    return layout;
}

Layout makeLayout(Page& page, cairo_t* cr, const std::string& text) {
    return makeValidLayout(page, cr, validText(text));
}

// ---- what of a text can show in its box ----

// How much of a text can show in a box, counted generously: lines at least 0.8 of the font size
// apart (with the line spacing, at least 0.2 of it) and characters at least a tenth of it wide
// (with the letter spacing, at least a twentieth), and two lines more, since the last line laid
// out of a cut text may break otherwise than in the whole.
struct ShowableRoom {
    size_t lines = 0;
    size_t lineCharacters = 0;  // of one line
    bool wraps = false;
};

ShowableRoom showableRoom(double boxWidth, double boxHeight, double sizePixels, double letterSpacing,
                          double lineSpacing, bool wraps) {
    const double pitch = std::max(0.8 * sizePixels + lineSpacing, 0.2 * sizePixels);
    const double advance = std::max(0.1 * sizePixels + letterSpacing, 0.05 * sizePixels);
    // Far more than any page holds, and small enough that lines times characters cannot overflow.
    constexpr double kMost = 1 << 30;
    ShowableRoom room;
    room.lines = static_cast<size_t>(std::min(std::ceil(boxHeight / pitch), kMost)) + 2;
    room.lineCharacters = static_cast<size_t>(std::min(std::ceil(boxWidth / advance), kMost)) + 2;
    room.wraps = wraps;
    return room;
}

// pango's paragraph separators: "\n", "\r", "\r\n" and U+2029. The length of the one at `at`, or 0.
size_t separatorAt(std::string_view text, size_t at) {
    if (text[at] == '\n') return 1;
    if (text[at] == '\r') return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    return text.compare(at, 3, "\xE2\x80\xA9") == 0 ? 3 : 0;
}

size_t paragraphEnd(std::string_view text, size_t from) {
    for (size_t at = text.find_first_of("\n\r\xE2", from); at != std::string_view::npos;
         at = text.find_first_of("\n\r\xE2", at + 1)) {
        if (separatorAt(text, at) > 0) return at;
    }
    return text.size();
}

// The first `characters` characters of a paragraph, made valid. Each character comes from at most
// four bytes, so no more than four bytes a character are looked at.
std::string paragraphHead(std::string_view paragraph, size_t characters, bool& cut) {
    size_t end = characters >= paragraph.size() / 4 ? paragraph.size() : characters * 4;
    // Not inside a character: back to its first byte (a longer run of continuation bytes is faulty anyway).
    for (int back = 0; back < 3 && end < paragraph.size() && end > 0 &&
                       (static_cast<unsigned char>(paragraph[end]) & 0xC0) == 0x80;
         ++back) {
        --end;
    }
    cut = end < paragraph.size();
    std::string valid = validText(paragraph.substr(0, end));
    size_t count = 0;
    for (size_t at = 0; at < valid.size(); ++at) {
        if ((static_cast<unsigned char>(valid[at]) & 0xC0) == 0x80) continue;
        if (count++ == characters) {
            valid.resize(at);
            cut = true;
            break;
        }
    }
    return valid;
}

// What of a text is laid out: the paragraphs that can show, each as far as it can show (a wrapped
// one as many lines as are left, one that is not wrapped one line). Empty when the whole text can
// show, which is then laid out as it is.
struct ShownPart {
    std::optional<std::string> text;  // valid UTF-8
    bool linesCut = false;            // lines that could follow below were left out
};

ShownPart shownPart(std::string_view text, const ShowableRoom& room) {
    ShownPart shown;
    if (text.size() <= std::min(room.lines, room.lineCharacters)) return shown;
    std::string kept;
    size_t lines = 0;
    bool cut = false;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = paragraphEnd(text, at);
        const size_t characters = room.wraps ? (room.lines - lines) * room.lineCharacters : room.lineCharacters;
        bool paragraphCut = false;
        const std::string head = paragraphHead(text.substr(at, end - at), characters, paragraphCut);
        kept += head;
        cut = cut || paragraphCut;
        if (room.wraps) {
            size_t headCharacters = 0;
            for (const char c : head) headCharacters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            lines += std::max<size_t>(1, (headCharacters + room.lineCharacters - 1) / room.lineCharacters);
            shown.linesCut = shown.linesCut || paragraphCut;
        } else {
            ++lines;
        }
        if (end == text.size()) break;
        if (lines >= room.lines) {
            cut = true;
            shown.linesCut = true;
            break;
        }
        const size_t separator = separatorAt(text, end);
        kept.append(text.substr(end, separator));
        at = end + separator;
    }
    if (cut) shown.text = std::move(kept);
    return shown;
}

// The largest font that still makes sense on this page, within pango's integer units.
double clampFontSize(const Page& page, double sizePixels) {
    const double limit = std::min(20000.0, 2.0 * std::max(page.width, page.height));
    return std::min(sizePixels, limit);
}

PangoRectangle logicalExtents(PangoLayout* layout) {
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    return logical;
}

double toPixels(int pangoUnits) { return static_cast<double>(pangoUnits) / PANGO_SCALE; }

double alignedOffset(int alignment, double room) {
    if (alignment == 1) return room / 2.0;
    if (alignment == 2) return room;
    return 0.0;
}

}  // namespace

bool addFontFolder(const char* folder) {
    if (folder == nullptr || folder[0] == '\0' || !isFolder(folder)) return false;
    if (!FcConfigAppFontAddDir(nullptr, reinterpret_cast<const FcChar8*>(folder))) return false;
    fontsChanged();
    return true;
}

std::string familyOfFontFile(const std::string& path) {
    static std::map<std::string, std::string> families;
    const auto known = families.find(path);
    if (known != families.end()) return known->second;

    std::string family;
    // Only regular files: opening a pipe or a device as a font could block or read forever.
    if (!path.empty() && path.find('\0') == std::string::npos && isRegularFile(path.c_str())) {
        const auto* file = reinterpret_cast<const FcChar8*>(path.c_str());
        int count = 0;
        if (FcPattern* pattern = FcFreeTypeQuery(file, 0, nullptr, &count)) {
            FcChar8* name = nullptr;
            if (FcPatternGetString(pattern, FC_FAMILY, 0, &name) == FcResultMatch && name != nullptr) {
                family = reinterpret_cast<const char*>(name);
            }
            FcPatternDestroy(pattern);
        }
        if (!family.empty() && FcConfigAppFontAddFile(nullptr, file)) {
            fontsChanged();
        } else {
            family.clear();
        }
    }
    families.emplace(path, family);
    return family;
}

bool drawText(Page& page, const PixelBox& box, const TextElement& text) {
    if (text.value.empty() || !(text.fontSize > 0.0) || box.width <= 0.0 || box.height <= 0.0) return false;
    double size = clampFontSize(page, text.fontSize * 25.4 / 72.0 * page.scale);
    if (size * PANGO_SCALE < 1.0) return false;

    cairo_t* cr = page.cr;
    enterBox(cr, box);
    // The text is cut at its box.
    cairo_rectangle(cr, 0, 0, box.width, box.height);
    cairo_clip(cr);

    const double letterSpacing = std::clamp(text.letterSpacing * page.scale, -kMaxSpacing, kMaxSpacing);
    const double lineSpacing = std::clamp(text.lineSpacing * page.scale, -kMaxSpacing, kMaxSpacing);
    const bool wraps = text.lineMode != 1 && text.lineMode != 2;

    // Only what can show in the box is laid out, so that a text far larger than its box costs what
    // the box holds. A text shrunk to fit counts as shrunk to the smallest size that shows, and a
    // text smaller than that as of that size.
    const double smallest = kSmallestShownSize * page.scale;
    const double countedSize = text.lineMode == 2 ? std::min(size, smallest) : std::max(size, smallest);
    const ShownPart shown = shownPart(
        text.value, showableRoom(box.width, box.height, countedSize, letterSpacing, lineSpacing, wraps));
    Layout layout = shown.text ? makeValidLayout(page, cr, *shown.text) : makeLayout(page, cr, text.value);
    if (!layout) return false;
    const std::string families = familyList(page, text.fontFamily);

    PangoAttrList* attributes = pango_attr_list_new();
    if (letterSpacing != 0.0) {
        pango_attr_list_insert(attributes,
                               pango_attr_letter_spacing_new(static_cast<int>(letterSpacing * PANGO_SCALE)));
    }
    if (text.underline) pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (text.strikeThrough) pango_attr_list_insert(attributes, pango_attr_strikethrough_new(TRUE));
    // A line broken inside a word shows the word's characters only: no hyphen is added.
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);

    pango_layout_set_spacing(layout.get(), static_cast<int>(lineSpacing * PANGO_SCALE));

    PangoAlignment alignment = PANGO_ALIGN_LEFT;
    if (text.alignHorizontal == 1) alignment = PANGO_ALIGN_CENTER;
    if (text.alignHorizontal == 2) alignment = PANGO_ALIGN_RIGHT;
    pango_layout_set_alignment(layout.get(), alignment);
    if (wraps) {
        pango_layout_set_width(layout.get(), static_cast<int>(box.width * PANGO_SCALE));
        PangoWrapMode wrap = PANGO_WRAP_WORD;
        if (text.lineBreakMode == 0) wrap = PANGO_WRAP_CHAR;
        if (text.lineBreakMode == 2) wrap = PANGO_WRAP_WORD_CHAR;
        pango_layout_set_wrap(layout.get(), wrap);
    }

    Font font = makeFont(families, size, text.bold, text.italic);
    pango_layout_set_font_description(layout.get(), font.get());
    PangoRectangle logical = logicalExtents(layout.get());
    // Shrinking by the ratio of widths can fall short by a rounding; a few rounds settle it.
    for (int round = 0; text.lineMode == 2 && round < 4 && toPixels(logical.width) > box.width; ++round) {
        size *= box.width / toPixels(logical.width);
        if (size * PANGO_SCALE < 1.0) return false;
        font = makeFont(families, size, text.bold, text.italic);
        pango_layout_set_font_description(layout.get(), font.get());
        logical = logicalExtents(layout.get());
    }

    // A wrapping layout places its lines within the box's width itself.
    const double x = wraps ? 0.0
                           : alignedOffset(text.alignHorizontal, box.width - toPixels(logical.width)) -
                                 toPixels(logical.x);
    // A text cut below its box shows its first lines: aligned to the middle or bottom it would
    // show lines of a part that is not the whole.
    const bool fromTop = shown.linesCut && toPixels(logical.height) > box.height;
    const double y = alignedOffset(fromTop ? 0 : text.alignVertical, box.height - toPixels(logical.height)) -
                     toPixels(logical.y);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.get());
    return true;
}

void drawCentredLine(Page& page, const std::string& text, double sizePixels, double x, double y, double width,
                     double height) {
    sizePixels = clampFontSize(page, sizePixels);
    if (text.empty() || sizePixels * PANGO_SCALE < 1.0 || width <= 0.0 || height <= 0.0) return;
    cairo_t* cr = page.cr;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, width, height);
    cairo_clip(cr);
    if (Layout layout = makeLayout(page, cr, text)) {
        Font font = makeFont(familyList(page, ""), sizePixels, false, false);
        pango_layout_set_font_description(layout.get(), font.get());
        const PangoRectangle logical = logicalExtents(layout.get());
        cairo_move_to(cr, x + (width - toPixels(logical.width)) / 2.0 - toPixels(logical.x),
                      y + (height - toPixels(logical.height)) / 2.0 - toPixels(logical.y));
        pango_cairo_show_layout(cr, layout.get());
    }
    cairo_restore(cr);
}

double lineHeight(Page& page, double sizePixels) {
    sizePixels = clampFontSize(page, sizePixels);
    if (sizePixels * PANGO_SCALE < 1.0) return 0.0;
    Layout layout = makeLayout(page, page.cr, "0");
    if (!layout) return 0.0;
    Font font = makeFont(familyList(page, ""), sizePixels, false, false);
    pango_layout_set_font_description(layout.get(), font.get());
    return toPixels(logicalExtents(layout.get()).height);
}

}  // namespace kvrender
