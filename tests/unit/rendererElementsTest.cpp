// Each kind of element puts its ink where its box and keys say: texts (alignment, line modes,
// line breaking, style flags, spacing, rotation, fonts), lines, shapes and pictures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/rendererHarness.h"

using namespace rendertest;

namespace {

// A 60 x 30 mm label at 8 dots a millimetre: 480 x 240 pixels; boxes are given in millimetres.
constexpr double kLabelWidth = 60;
constexpr double kLabelHeight = 30;

Rect pixels(double x, double y, double width, double height) {
    return Rect{static_cast<int>(x * 8), static_cast<int>(y * 8), static_cast<int>((x + width) * 8),
                static_cast<int>((y + height) * 8)};
}

Image draw(const Json::Value& e, const std::vector<std::string>& fontFiles = {}) {
    return preview(label(kLabelWidth, kLabelHeight, {e}, fontFiles));
}

Json::Value text(const std::string& value, double x = 5, double y = 5, double width = 40, double height = 10) {
    Json::Value e = element("text", x, y, width, height);
    e["value"] = value;
    e["fontSize"] = 12;
    return e;
}

// Rows of the image that hold ink within the columns of the area.
int inkRows(const Image& image, const Rect& area) {
    int rows = 0;
    for (int y = area.y0; y < area.y1; ++y) rows += inkCount(image, Rect{area.x0, y, area.x1, y + 1}) > 0;
    return rows;
}

// ---- text --------------------------------------------------------------------------------------

TEST(RendererText, PutsInkInsideItsBoxAndNoneOutside) {
    const Rect box = pixels(5, 5, 40, 10);
    const Image image = draw(text("Hello world, this text wraps within its box and is cut below it"));
    const std::optional<Rect> ink = inkBounds(image);
    ASSERT_TRUE(ink);
    EXPECT_TRUE(box.contains(*ink));
    EXPECT_GT(inkCount(image, box), 500);
    EXPECT_GT(inkRows(image, box), 40) << "more than one line";
}

TEST(RendererText, AlignsWithinItsBox) {
    const Rect box = pixels(5, 5, 40, 10);
    for (int lineMode : {0, 1}) {
        for (int horizontal : {0, 1, 2}) {
            for (int vertical : {0, 1, 2}) {
                SCOPED_TRACE(testing::Message() << "h " << horizontal << " v " << vertical << " mode " << lineMode);
                Json::Value e = text("Align");
                e["textAlignHorizonral"] = horizontal;
                e["textAlignVertical"] = vertical;
                e["lineMode"] = lineMode;
                const std::optional<Rect> ink = inkBounds(draw(e));
                ASSERT_TRUE(ink);
                EXPECT_TRUE(box.contains(*ink));
                const double centreX = (ink->x0 + ink->x1) / 2.0;
                const double centreY = (ink->y0 + ink->y1) / 2.0;
                // A glyph's side bearing and the line's leading keep ink a few pixels off the edges.
                if (horizontal == 0) { EXPECT_LE(ink->x0 - box.x0, 4); }
                if (horizontal == 1) { EXPECT_NEAR(centreX, (box.x0 + box.x1) / 2.0, 3); }
                if (horizontal == 2) { EXPECT_LE(box.x1 - ink->x1, 4); }
                if (vertical == 0) { EXPECT_LE(ink->y0 - box.y0, 8); }
                if (vertical == 1) { EXPECT_NEAR(centreY, (box.y0 + box.y1) / 2.0, 6); }
                if (vertical == 2) { EXPECT_LE(box.y1 - ink->y1, 8); }
            }
        }
    }
}

TEST(RendererText, LineModesWrapCutOrShrink) {
    const std::string longLine = "A long line of text that does not fit the width of its box";
    const Rect box = pixels(5, 5, 40, 20);
    Json::Value e = text(longLine, 5, 5, 40, 20);

    e["lineMode"] = 0;
    const Image wrapped = draw(e);
    e["lineMode"] = 1;
    const Image cut = draw(e);
    e["lineMode"] = 2;
    const Image shrunk = draw(e);
    e["lineMode"] = 7;  // unknown: wraps
    const Image unknown = draw(e);

    const int oneLine = inkRows(cut, box);
    EXPECT_GT(inkRows(wrapped, box), 2 * oneLine) << "wrapped onto several lines";
    EXPECT_EQ(unknown.pixels, wrapped.pixels);
    EXPECT_GE(inkBounds(cut)->x1, box.x1 - 2) << "one line, cut at the box";
    EXPECT_LT(inkRows(shrunk, box), oneLine) << "one line, smaller";
    EXPECT_LT(inkBounds(shrunk)->x1, box.x1);
    EXPECT_LE(inkBounds(shrunk)->x1, box.x1 - 1);
    EXPECT_GE(inkBounds(shrunk)->x1, box.x1 - 12) << "shrunk just enough to fit";

    // A text that fits is not changed by shrinking.
    Json::Value fits = text("Fits", 5, 5, 40, 20);
    fits["lineMode"] = 1;
    const Image kept = draw(fits);
    fits["lineMode"] = 2;
    EXPECT_EQ(draw(fits).pixels, kept.pixels);

    // A line break in the text starts a new line in every mode.
    Json::Value twoLines = text("One\nTwo", 5, 5, 40, 20);
    twoLines["lineMode"] = 1;
    EXPECT_GT(inkRows(draw(twoLines), box), inkRows(kept, box) * 3 / 2);
}

TEST(RendererText, LineBreakModesChooseWhereLinesBreak) {
    // A short word, then one longer than the box is wide.
    const std::string words = "ab cdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz";
    const Rect box = pixels(5, 5, 30, 20);
    const Rect firstLine{box.x0, box.y0, box.x1, box.y0 + 20};
    Json::Value e = text(words, 5, 5, 30, 20);
    e["fontSize"] = 10;

    e["lineBreakMode"] = 0;  // anywhere: the first line is full
    const Image anywhere = draw(e);
    e["lineBreakMode"] = 1;  // between words: "ab" alone, then the long word overflows and is cut
    const Image byWord = draw(e);
    e["lineBreakMode"] = 2;  // between words, long words between characters
    const Image byWordThenCharacter = draw(e);
    e["lineBreakMode"] = -2;  // unknown: between words
    const Image unknown = draw(e);

    EXPECT_GE(inkBounds(anywhere)->x1, box.x1 - 20);
    const Rect firstLineInk = [&] {
        Image top = byWord;
        for (int y = firstLine.y1; y < top.height; ++y) {
            for (int x = 0; x < top.width; ++x) top.pixels[static_cast<size_t>(y) * top.width + x] = 255;
        }
        return *inkBounds(top);
    }();
    EXPECT_LT(firstLineInk.x1, box.x0 + 40) << "only the short word on the first line";
    EXPECT_GT(inkRows(byWordThenCharacter, box), inkRows(byWord, box)) << "the long word broken into lines";
    EXPECT_EQ(unknown.pixels, byWord.pixels);
}

TEST(RendererText, StyleFlagsChangeTheInk) {
    const Rect box = pixels(5, 5, 50, 10);
    Json::Value e = text("Styled text", 5, 5, 50, 10);
    e["lineMode"] = 1;
    const Image plain = draw(e);
    const int plainInk = inkCount(plain);

    e["fontStyle"] = Json::Value(Json::arrayValue);
    for (bool flag : {true, false, false, false}) e["fontStyle"].append(flag);
    EXPECT_GT(inkCount(draw(e)), plainInk * 5 / 4) << "bold";

    e["fontStyle"][0] = false;
    e["fontStyle"][1] = true;
    const Image italic = draw(e);
    EXPECT_NE(italic.pixels, plain.pixels);

    // Underline and strike-through each add one row of ink across the whole text.
    auto longestRun = [&](const Image& image, int from, int to) {
        int best = 0;
        for (int y = from; y < to; ++y) best = std::max(best, inkCount(image, Rect{box.x0, y, box.x1, y + 1}));
        return best;
    };
    const std::optional<Rect> words = inkBounds(plain);
    const int textWidth = words->x1 - words->x0;
    const int middle = (words->y0 + words->y1) / 2;
    e["fontStyle"][1] = false;
    e["fontStyle"][2] = true;
    const Image underlined = draw(e);
    // Below the middle of the letters (the descender of the y reaches under the line).
    EXPECT_GE(longestRun(underlined, middle + 6, box.y1), textWidth * 9 / 10);
    EXPECT_LT(longestRun(plain, middle + 6, box.y1), textWidth * 3 / 4);
    e["fontStyle"][2] = false;
    e["fontStyle"][3] = true;
    const Image struck = draw(e);
    EXPECT_GE(longestRun(struck, middle - 6, middle + 6), textWidth * 9 / 10);
    EXPECT_LT(longestRun(plain, middle - 6, middle + 6), textWidth * 3 / 4);

    // Flags that are not booleans, and a list that is too short, leave the text plain.
    e["fontStyle"] = Json::Value(Json::arrayValue);
    for (int flag : {1, 1, 1, 1}) e["fontStyle"].append(flag);
    EXPECT_EQ(draw(e).pixels, plain.pixels);
    e["fontStyle"] = "bold";
    EXPECT_EQ(draw(e).pixels, plain.pixels);
}

TEST(RendererText, SpacingsWidenAndHeighten) {
    Json::Value e = text("Spacing", 5, 5, 50, 20);
    e["lineMode"] = 1;
    const int plainWidth = inkBounds(draw(e))->x1 - inkBounds(draw(e))->x0;
    e["letterSpacing"] = 1.0;  // 8 pixels after each of the 7 characters
    const std::optional<Rect> spaced = inkBounds(draw(e));
    EXPECT_NEAR(spaced->x1 - spaced->x0, plainWidth + 6 * 8, 3);

    Json::Value lines = text("Top\nBottom", 5, 5, 50, 24);
    const std::optional<Rect> tight = inkBounds(draw(lines));
    lines["lineSpacing"] = 2.0;  // 16 pixels between the lines
    const std::optional<Rect> loose = inkBounds(draw(lines));
    EXPECT_NEAR(loose->y1 - loose->y0, tight->y1 - tight->y0 + 16, 2);
}

TEST(RendererText, TurnsAboutTheCentreOfItsBox) {
    // A 40 x 8 mm box about the centre (30, 15): turned a quarter it stands 8 wide and 40 high,
    // reaching past the label's top and bottom.
    Json::Value e = text("Turned text line", 10, 11, 40, 8);
    e["lineMode"] = 1;
    const std::optional<Rect> flat = inkBounds(draw(e));
    e["rotate"] = 90;
    const std::optional<Rect> turned = inkBounds(draw(e));
    ASSERT_TRUE(flat && turned);
    EXPECT_GT(flat->x1 - flat->x0, 3 * (flat->y1 - flat->y0));
    EXPECT_GT(turned->y1 - turned->y0, 3 * (turned->x1 - turned->x0));
    EXPECT_TRUE(pixels(26, 0, 8, 30).contains(*turned));
    e["rotate"] = 45;
    const std::optional<Rect> slanted = inkBounds(draw(e));
    EXPECT_GT(slanted->y1 - slanted->y0, flat->y1 - flat->y0 + 40);
}

TEST(RendererText, EachFaultyUtf8SequenceShowsOneReplacementCharacter) {
    // The bytes go into the label text as they are: a JSON writer would make characters of them.
    auto shown = [](const std::string& bytes) {
        Json::Value e = text("@");
        e["lineMode"] = 1;
        std::string labelText = label(kLabelWidth, kLabelHeight, {e});
        labelText.replace(labelText.find("\"@\""), 3, "\"" + bytes + "\"");
        return preview(labelText).pixels;
    };
    EXPECT_EQ(shown("\xF0\x9F\x98X-tail"), shown("\xEF\xBF\xBDX-tail")) << "a character cut short";
    EXPECT_EQ(shown("\xE4XYZ-tail"), shown("\xEF\xBF\xBDXYZ-tail"));
    EXPECT_EQ(shown("a\\u0000b"), shown("a\xEF\xBF\xBD" "b")) << "a zero byte";
}

TEST(RendererText, SizeIsInPoints) {
    // 36 points are half an inch: the capital H stands about 0.73 of that, 12.7 x 0.73 mm.
    Json::Value e = text("H", 5, 5, 40, 20);
    e["fontSize"] = 36;
    const std::optional<Rect> ink = inkBounds(draw(e));
    ASSERT_TRUE(ink);
    EXPECT_NEAR(ink->y1 - ink->y0, 12.7 * 0.729 * 8, 3);
    // At 12 dots a millimetre the same text is one and a half times as tall.
    Options options;
    options.scale = 12;
    const std::optional<Rect> finer = inkBounds(preview(label(kLabelWidth, kLabelHeight, {e}), options));
    EXPECT_NEAR(finer->y1 - finer->y0, 1.5 * (ink->y1 - ink->y0), 3);
}

// ---- fonts -------------------------------------------------------------------------------------

const char* const kMonoFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// A copy of DejaVu Sans Mono whose family is renamed (to a name of the same length), so that
// fontconfig knows it only from where the test puts it.
std::string renamedMonoFont(const std::string& folder, const std::string& family) {
    std::ifstream in(kMonoFont, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string original = "DejaVu Sans Mono";
    EXPECT_EQ(family.size(), original.size());
    auto wide = [](const std::string& s) {
        std::string out;
        for (char c : s) out += std::string(1, '\0') + c;
        return out;
    };
    for (const auto& [from, to] : {std::pair{original, family}, std::pair{wide(original), wide(family)}}) {
        for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size())) {
            bytes.replace(at, from.size(), to);
        }
    }
    const std::string path = folder + "/" + family + ".ttf";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

Json::Value familyText(const std::string& family) {
    Json::Value e = text("Family Wii 123", 5, 5, 50, 10);
    e["lineMode"] = 1;
    e["fontFamily"] = family;
    return e;
}

TEST(RendererFonts, AFamilyThatIsNotFoundFallsBackToDejaVuSans) {
    const Image sans = draw(familyText("DejaVu Sans"));
    EXPECT_EQ(draw(familyText("")).pixels, sans.pixels);
    EXPECT_EQ(draw(familyText("No Such Family")).pixels, sans.pixels);
    EXPECT_EQ(draw(familyText("\xFE")).pixels, sans.pixels) << "the bridge's wrong-type text";
    EXPECT_NE(draw(familyText("DejaVu Sans Mono")).pixels, sans.pixels);
    EXPECT_NE(draw(familyText("DejaVu Serif")).pixels, sans.pixels);
}

TEST(RendererFonts, FoldersGivenToInitFontsFilePathAddTheirFonts) {
    ASSERT_TRUE(std::filesystem::exists(kMonoFont)) << "fonts-dejavu-core is needed";
    const std::string folder = scratchFolder("fonts-folder");
    renamedMonoFont(folder, "Kvtest Wide Mono");
    const Image sans = draw(familyText("DejaVu Sans"));
    const Image mono = draw(familyText("DejaVu Sans Mono"));
    EXPECT_EQ(draw(familyText("Kvtest Wide Mono")).pixels, sans.pixels) << "not known yet";

    const Renderer& renderer = Renderer::get();
    EXPECT_EQ(renderer.initFontsFilePath(folder.c_str()), 0);
    EXPECT_EQ(draw(familyText("Kvtest Wide Mono")).pixels, mono.pixels);

    EXPECT_EQ(renderer.initFontsFilePath((folder + "/missing").c_str()), -1);
    EXPECT_EQ(renderer.initFontsFilePath((folder + "/Kvtest Wide Mono.ttf").c_str()), -1) << "a file";
    EXPECT_EQ(renderer.initFontsFilePath(""), -1);
    EXPECT_EQ(renderer.initFontsFilePath(nullptr), -1);
    EXPECT_EQ(draw(familyText("Kvtest Wide Mono")).pixels, mono.pixels);
}

TEST(RendererFonts, TheBoardsFirstFontFileIsTheFontOfTextsWithoutFamily) {
    const std::string folder = scratchFolder("fonts-board");
    const std::string file = renamedMonoFont(folder, "Kvtest Board Mon");
    const Image sans = draw(familyText(""));
    const Image mono = draw(familyText("DejaVu Sans Mono"));
    EXPECT_EQ(draw(familyText(""), {file, "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"}).pixels, mono.pixels);
    EXPECT_EQ(draw(familyText("DejaVu Sans"), {file}).pixels, sans.pixels) << "a family named wins";
    // A font file that is missing, no font, or not a file leaves DejaVu Sans.
    const std::vector<std::string> badFiles = {"ZT001.ttf", "/nonexistent/font.ttf", folder, "/dev/zero",
                                               std::string(KV_BIN_DIR) + "/libpelix_windows.so"};
    for (const std::string& bad : badFiles) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(draw(familyText(""), {bad}).pixels, sans.pixels);
    }
}

// ---- lines -------------------------------------------------------------------------------------

struct LineCase {
    const char* name;
    double x, y, width, height;
    int rotate;
    Rect ink;
};

TEST(RendererLines, RunAlongTheLongerSideThroughTheMiddle) {
    const LineCase cases[] = {
        {"horizontal", 5, 10, 30, 0.5, 0, {40, 80, 280, 84}},
        {"hairline", 5, 10, 30, 0, 0, {40, 80, 280, 81}},
        {"vertical", 20, 2, 0.25, 20, 0, {160, 16, 162, 176}},
        {"square", 5, 5, 2, 2, 0, {40, 40, 56, 56}},
        {"turned", 10, 14, 20, 0.5, 90, {158, 34, 162, 194}},  // about its centre (20, 14.25)
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        Json::Value e = element("line", c.x, c.y, c.width, c.height);
        e["rotate"] = c.rotate;
        const Image image = draw(e);
        const std::optional<Rect> ink = inkBounds(image);
        ASSERT_TRUE(ink);
        EXPECT_EQ(ink->x0, c.ink.x0);
        EXPECT_EQ(ink->y0, c.ink.y0);
        EXPECT_EQ(ink->x1, c.ink.x1);
        EXPECT_EQ(ink->y1, c.ink.y1);
        EXPECT_EQ(inkCount(image), (c.ink.x1 - c.ink.x0) * (c.ink.y1 - c.ink.y0)) << "solid";
    }
    EXPECT_EQ(inkCount(draw(element("line", 5, 5, 0, 0))), 0) << "no length";
}

TEST(RendererLines, DashedLinesLeaveGaps) {
    // Runs of ink along a 40 mm line, in pixels.
    auto runs = [](const Image& image) {
        std::vector<int> lengths;
        int run = 0;
        for (int x = 0; x < image.width; ++x) {
            if (image.ink(x, 80)) {
                ++run;
            } else if (run > 0) {
                lengths.push_back(run);
                run = 0;
            }
        }
        if (run > 0) lengths.push_back(run);
        return lengths;
    };
    Json::Value e = element("line", 5, 10, 40, 0.25);
    e["lineType"] = 1;
    e["dash"] = Json::Value(Json::arrayValue);
    e["dash"].append(2.0);
    e["dash"].append(1.0);
    std::vector<int> dashes = runs(draw(e));
    ASSERT_EQ(dashes.size(), 14u);  // 40 mm of 3 mm periods: 13 whole dashes and a last one of 1 mm
    for (size_t i = 0; i + 1 < dashes.size(); ++i) EXPECT_EQ(dashes[i], 16);
    EXPECT_EQ(dashes.back(), 8);

    e["dash"][0] = 0.0;
    e["dash"][1] = 0.0;  // dashed without a pattern: 1 mm and 1 mm
    dashes = runs(draw(e));
    ASSERT_EQ(dashes.size(), 20u);
    EXPECT_EQ(dashes.front(), 8);

    e["lineType"] = 0;  // solid whatever the pattern
    EXPECT_EQ(runs(draw(e)), std::vector<int>{320});
    e["lineType"] = 1;
    e["dash"][0] = 1.0;
    e["dash"][1] = -3.0;  // no gap
    EXPECT_EQ(runs(draw(e)), std::vector<int>{320});
    e["dash"][0] = 0.0;
    e["dash"][1] = 2.0;  // all gap
    EXPECT_TRUE(runs(draw(e)).empty());
}

// ---- shapes ------------------------------------------------------------------------------------

Json::Value graph(int type, double lineWidth = 0.5, double radius = 0) {
    Json::Value e = element("graph", 10, 5, 30, 20);  // pixels 80..320 x 40..200
    e["graphType"] = type;
    e["lineWidth"] = lineWidth;
    e["cornerRadius"] = radius;
    return e;
}

TEST(RendererShapes, OutlinesLieInsideTheBoxAndFillsFillIt) {
    const Rect box = pixels(10, 5, 30, 20);
    const Rect middle{170, 90, 230, 150};
    for (int type : {1, 2, 3, 4, 5, 6}) {
        SCOPED_TRACE(type);
        const Image image = draw(graph(type, 0.5, 4));
        const std::optional<Rect> ink = inkBounds(image);
        ASSERT_TRUE(ink);
        EXPECT_EQ(ink->x0, box.x0);
        EXPECT_EQ(ink->y0, box.y0);
        EXPECT_EQ(ink->x1, box.x1);
        EXPECT_EQ(ink->y1, box.y1);
        const bool filled = type >= 4;
        EXPECT_EQ(inkCount(image, middle), filled ? 3600 : 0);
        // The middle of each side is ink for every shape; a corner only for the plain rectangle.
        EXPECT_TRUE(image.ink(200, 41));
        EXPECT_TRUE(image.ink(81, 120));
        EXPECT_TRUE(image.ink(318, 120));
        EXPECT_TRUE(image.ink(200, 198));
        EXPECT_EQ(image.ink(81, 41), type == 1 || type == 4);
    }
    // The plain rectangle's outline is exactly 4 pixels (0.5 mm) wide.
    const Image outline = draw(graph(1, 0.5));
    EXPECT_EQ(inkCount(outline), 240 * 160 - 232 * 152);
    // No outline width: 0.3 mm, rounded to 2 pixels.
    EXPECT_EQ(inkCount(draw(graph(1, 0))), 240 * 160 - 236 * 156);
    // Type 0 counts as 1; unknown types draw nothing.
    EXPECT_EQ(draw(graph(0)).pixels, outline.pixels);
    EXPECT_EQ(inkCount(draw(graph(7))), 0);
    EXPECT_EQ(inkCount(draw(graph(-2))), 0);
    // An outline wider than half the box fills it.
    EXPECT_EQ(inkCount(draw(graph(1, 20))), 240 * 160);
}

TEST(RendererShapes, DashedOutlinesAndTurnedShapes) {
    Json::Value dashed = graph(1, 0.5);
    dashed["lineType"] = 1;
    dashed["dash"] = Json::Value(Json::arrayValue);
    dashed["dash"].append(2.0);
    dashed["dash"].append(2.0);
    const Image image = draw(dashed);
    const int solid = inkCount(draw(graph(1, 0.5)));
    EXPECT_GT(inkCount(image), solid * 4 / 10);
    EXPECT_LT(inkCount(image), solid * 6 / 10);
    EXPECT_TRUE(inkBounds(draw(graph(1, 0.5)))->contains(*inkBounds(image)));

    Json::Value turned = graph(4);
    turned["rotate"] = 90;  // 20 x 30 mm about the same centre (25, 15)
    EXPECT_EQ(inkCount(draw(turned)), 240 * 160);
    const std::optional<Rect> ink = inkBounds(draw(turned));
    EXPECT_EQ(ink->x0, 120);
    EXPECT_EQ(ink->y0, 0);
    EXPECT_EQ(ink->x1, 280);
    EXPECT_EQ(ink->y1, 240);
}

// ---- pictures ----------------------------------------------------------------------------------

unsigned char black(int, int) { return 0; }
unsigned char leftHalfBlack(int x, int) { return x < 8 ? 0 : 255; }

TEST(RendererPictures, FillTheirBoxInEveryFormat) {
    const Rect box = pixels(10, 5, 10, 10);
    struct Case {
        const char* format;
        std::string data;
    };
    const Case cases[] = {
        {"png", pngBase64(16, 16, leftHalfBlack)},
        {"jpeg", jpegBase64(16, 16, leftHalfBlack)},
        {"bmp", bmpBase64(16, 16, leftHalfBlack)},
        {"gif", gifBase64(16, 16, leftHalfBlack)},
        {"ico", icoBase64(16, 16, leftHalfBlack)},
        {"ico holding a png", icoBase64(16, 16, leftHalfBlack, nullptr, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Json::Value e = element("image", 10, 5, 10, 10);
        e["imageData"] = c.data;
        const Image image = draw(e);
        const std::optional<Rect> ink = inkBounds(image);
        ASSERT_TRUE(ink);
        // The left half of the box, stretched from 8 of 16 pixels to 40 of 80.
        EXPECT_EQ(ink->x0, box.x0);
        EXPECT_EQ(ink->y0, box.y0);
        EXPECT_NEAR(ink->x1, box.x0 + 40, 1);
        EXPECT_EQ(ink->y1, box.y1);
        EXPECT_GE(inkCount(image), 39 * 80);
    }
}

TEST(RendererPictures, BitmapsStoredEitherWayUpAndIconsDrawTheRightWayUp) {
    const Shade topHalfBlack = [](int, int y) { return y < 8 ? 0 : 255; };
    const Shade rightHalf = [](int x, int) { return x >= 8; };
    struct Case {
        const char* name;
        std::string data;
        Rect ink;  // pixels of the 80 x 80 box at (80, 40)
    };
    const Case cases[] = {
        {"bitmap bottom-up", bmpBase64(16, 16, topHalfBlack), {80, 40, 160, 80}},
        {"bitmap top-down", bmpBase64(16, 16, topHalfBlack, true), {80, 40, 160, 80}},
        {"icon", icoBase64(16, 16, topHalfBlack), {80, 40, 160, 80}},
        {"icon, right half transparent", icoBase64(16, 16, black, rightHalf), {80, 40, 120, 120}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Json::Value e = element("image", 10, 5, 10, 10);
        e["imageData"] = c.data;
        const std::optional<Rect> ink = inkBounds(draw(e));
        ASSERT_TRUE(ink);
        EXPECT_EQ(ink->x0, c.ink.x0);
        EXPECT_EQ(ink->y0, c.ink.y0);
        EXPECT_NEAR(ink->x1, c.ink.x1, 1);
        EXPECT_NEAR(ink->y1, c.ink.y1, 1);
    }
}

TEST(RendererPictures, ThresholdDecidesBlackAndWhite) {
    auto greyPicture = [](unsigned char level) {
        Json::Value e = element("image", 10, 5, 10, 10);
        e["imageData"] = pngBase64(4, 4, [level](int, int) { return level; });
        return e;
    };
    const int boxPixels = 80 * 80;
    struct Case {
        unsigned char level;
        Json::Value threshold;  // null: absent
        int ink;
    };
    const Case cases[] = {
        {100, Json::Value(), boxPixels},  // the default threshold 127
        {127, Json::Value(), 0},          // not darker than 127
        {126, 127, boxPixels},
        {100, 90, 0},
        {200, 255, boxPixels},
        {0, 0, 0},                        // nothing is darker than 0
        {0, -40, 0},
        {254, 1000, boxPixels},
        {100, "dark", boxPixels},         // wrong type: 127
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.level) << " at " << c.threshold.toStyledString());
        Json::Value e = greyPicture(c.level);
        if (!c.threshold.isNull()) e["imageProcessingValue"] = c.threshold;
        EXPECT_EQ(inkCount(draw(e)), c.ink);
    }
    // Any mode but 1 keeps grey levels.
    Json::Value grey = greyPicture(100);
    grey["mode"] = 0;
    const Image image = draw(grey);
    EXPECT_NEAR(image.at(120, 80), 100, 1);
    EXPECT_EQ(image.at(10, 10), 255);
}

TEST(RendererPictures, TransparencyShowsThePaperAndStretchingFollowsTheBox) {
    Json::Value e = element("image", 10, 5, 20, 10);
    e["imageData"] = pngBase64(10, 10, black, [](int x, int) { return x < 5 ? 255 : 0; });
    const std::optional<Rect> ink = inkBounds(draw(e));
    ASSERT_TRUE(ink);
    EXPECT_EQ(ink->x0, 80);
    EXPECT_NEAR(ink->x1, 160, 1) << "the opaque half of a 20 mm box";
    EXPECT_EQ(ink->y1 - ink->y0, 80);

    e["rotate"] = 180;
    const std::optional<Rect> turned = inkBounds(draw(e));
    EXPECT_NEAR(turned->x0, 160, 1);
    EXPECT_EQ(turned->x1, 240);
}

}  // namespace
