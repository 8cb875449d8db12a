// The renderer stand-in's page as a whole: its size at each scale, the print rows against the
// preview, the orientation, the margins, the ink colour, repeatability, the codes read back by
// zbarimg, the records given back with vFree, and the trace of its calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/rendererHarness.h"

using namespace rendertest;

namespace {

const std::string kTracePath = std::string(KV_TEST_DIR) + "/renderer/trace.jsonl";

// The renderer opens its trace on its first call, which comes after this.
const bool kTraceSet = [] {
    std::filesystem::create_directories(std::string(KV_TEST_DIR) + "/renderer");
    std::filesystem::remove(kTracePath);
    setenv("KVSIM_TRACE", kTracePath.c_str(), 1);
    return true;
}();

std::vector<Json::Value> traceLines() {
    std::vector<Json::Value> lines;
    std::ifstream in(kTracePath);
    std::string text;
    while (std::getline(in, text)) {
        Json::Value line;
        if (Json::Reader().parse(text, line)) lines.push_back(line);
    }
    return lines;
}

Json::Value filledBox(double x, double y, double width, double height) {
    Json::Value e = element("graph", x, y, width, height);
    e["graphType"] = 4;
    return e;
}

// A label that uses every kind of element.
std::string fullLabel() {
    Json::Value text = element("text", 2, 1, 30, 6);
    text["value"] = "Label 42";
    text["fontSize"] = 10;
    Json::Value bar = element("barcode", 2, 8, 30, 10);
    bar["codeType"] = 20;
    bar["value"] = "ABC-12345";
    bar["fontSize"] = 8;
    bar["textPosition"] = 1;
    Json::Value qr = element("qrcode", 34, 1, 14, 14);
    qr["value"] = "HELLO-123";
    Json::Value line = element("line", 2, 20, 46, 0.3);
    Json::Value rect = element("graph", 2, 22, 20, 7);
    rect["graphType"] = 2;
    rect["cornerRadius"] = 2;
    Json::Value picture = element("image", 36, 17, 12, 12);
    picture["imageData"] = pngBase64(24, 24, [](int x, int y) { return (x / 4 + y / 4) % 2 ? 0 : 255; });
    return label(50, 30, {text, bar, qr, line, rect, picture});
}

struct SizeCase {
    double width, height;
    float scale;
    int pixelsWide, pixelsHigh;
};

TEST(RendererPage, IsTheLabelSizeTimesTheScaleRounded) {
    const SizeCase cases[] = {
        {50, 30, 8.0f, 400, 240},   {50, 30, 12.0f, 600, 360}, {10.06, 5.04, 8.0f, 80, 40},
        {0.1, 0.1, 8.0f, 1, 1},     {25.4, 25.4, 11.811f, 300, 300}, {50.5, 30, 8.0f, 404, 240},
        {100, 150, 2.0f, 200, 300},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " mm at " << c.scale);
        Options options;
        options.scale = c.scale;
        const Image image = preview(label(c.width, c.height, {}), options);
        EXPECT_EQ(image.width, c.pixelsWide);
        EXPECT_EQ(image.height, c.pixelsHigh);
        EXPECT_EQ(inkCount(image), 0) << "a label without elements is a blank page";

        options.mode = 0;
        const std::optional<Rendered> rows = render(label(c.width, c.height, {}), options);
        ASSERT_TRUE(rows);
        EXPECT_EQ(rows->width, c.pixelsWide);
        EXPECT_EQ(rows->height, c.pixelsHigh);
        EXPECT_EQ(rows->data.size(), static_cast<size_t>((c.pixelsWide + 7) / 8 * c.pixelsHigh));
    }
}

TEST(RendererPage, PrintRowsHoldTheInkOfThePreview) {
    for (float scale : {8.0f, 12.0f, 8.1f}) {
        SCOPED_TRACE(scale);
        Options options;
        options.scale = scale;
        const Image shown = preview(fullLabel(), options);
        options.mode = 0;
        const std::optional<Rendered> rows = render(fullLabel(), options);
        ASSERT_TRUE(rows);
        const Image printed = unpack(*rows);
        ASSERT_EQ(printed.width, shown.width);
        ASSERT_EQ(printed.height, shown.height);
        int differences = 0;
        for (int y = 0; y < shown.height; ++y) {
            for (int x = 0; x < shown.width; ++x) differences += shown.ink(x, y) != printed.ink(x, y);
        }
        EXPECT_EQ(differences, 0);
        EXPECT_GT(inkCount(printed), 1000);
        // Bits past the page's width in the last byte of a row stay clear.
        const size_t rowBytes = (static_cast<size_t>(rows->width) + 7) / 8;
        if (rows->width % 8 != 0) {
            const unsigned char spare = static_cast<unsigned char>(0xFF >> (rows->width % 8));
            for (int y = 0; y < rows->height; ++y) EXPECT_EQ(rows->data[y * rowBytes + rowBytes - 1] & spare, 0);
        }
    }
}

TEST(RendererPage, OrientationTurnsTheFinishedPageClockwise) {
    // A 2 mm square in the top-left corner of a 20 x 10 mm label (160 x 80 pixels).
    const std::string marked = label(20, 10, {filledBox(0, 0, 2, 2)});
    struct Case {
        int orientation;
        int width, height;
        Rect square;
    };
    const Case cases[] = {
        {0, 160, 80, {0, 0, 16, 16}},     {90, 80, 160, {64, 0, 80, 16}},
        {180, 160, 80, {144, 64, 160, 80}}, {270, 80, 160, {0, 144, 16, 160}},
        {45, 160, 80, {0, 0, 16, 16}},    {-90, 160, 80, {0, 0, 16, 16}},
        {360, 160, 80, {0, 0, 16, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        for (int mode : {1, 0}) {
            Options options;
            options.orientation = c.orientation;
            options.mode = mode;
            const std::optional<Rendered> rendered = render(marked, options);
            ASSERT_TRUE(rendered);
            const Image image = mode == 1 ? *decodePng(rendered->data) : unpack(*rendered);
            EXPECT_EQ(image.width, c.width);
            EXPECT_EQ(image.height, c.height);
            const std::optional<Rect> ink = inkBounds(image);
            ASSERT_TRUE(ink);
            EXPECT_EQ(ink->x0, c.square.x0);
            EXPECT_EQ(ink->y0, c.square.y0);
            EXPECT_EQ(ink->x1, c.square.x1);
            EXPECT_EQ(ink->y1, c.square.y1);
        }
    }
}

TEST(RendererPage, MarginsMoveTheContentAndCutIt) {
    // A box over the whole 20 x 10 mm label.
    const std::string full = label(20, 10, {filledBox(0, 0, 20, 10)});
    const std::string corner = label(20, 10, {filledBox(0, 0, 2, 2)});
    struct Case {
        float margin[4];
        const std::string* labelJson;
        Rect ink;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, &corner, {0, 0, 16, 16}},
        {{5, 3, 0, 0}, &corner, {40, 24, 56, 40}},
        {{5, 3, 0, 0}, &full, {40, 24, 160, 80}},
        {{1, 2, 3, 4}, &full, {8, 16, 136, 48}},
        {{-5, -1, 0, 0}, &corner, {0, 0, 16, 16}},  // no negative margins
        {{30, 0, 0, 0}, &full, {0, 0, 0, 0}},       // wider than the label: nothing drawn
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.margin[0] << " " << c.margin[1] << " " << c.margin[2] << " "
                                        << c.margin[3]);
        Options options;
        std::copy(c.margin, c.margin + 4, options.margin);
        const Image image = preview(*c.labelJson, options);
        EXPECT_EQ(image.width, 160);
        EXPECT_EQ(image.height, 80);
        const std::optional<Rect> ink = inkBounds(image);
        if (c.ink.x1 == 0) {
            EXPECT_FALSE(ink);
            continue;
        }
        ASSERT_TRUE(ink);
        EXPECT_EQ(ink->x0, c.ink.x0);
        EXPECT_EQ(ink->y0, c.ink.y0);
        EXPECT_EQ(ink->x1, c.ink.x1);
        EXPECT_EQ(ink->y1, c.ink.y1);
    }
    Options nullMargin;
    nullMargin.withMargin = false;
    EXPECT_EQ(inkBounds(preview(corner, nullMargin))->x0, 0);
}

TEST(RendererPage, InkTakesTheColourGivenAsAlphaRedGreenBlue) {
    const std::string box = label(10, 10, {filledBox(0, 0, 5, 10)});
    struct Case {
        int colour[4];
        unsigned char ink[3];
    };
    const Case cases[] = {
        {{255, 0, 0, 0}, {0, 0, 0}},
        {{255, 255, 0, 0}, {255, 0, 0}},
        {{255, 0, 0, 255}, {0, 0, 255}},
        {{0, 0, 0, 0}, {255, 255, 255}},     // fully transparent ink leaves the paper
        {{128, 0, 0, 0}, {127, 127, 127}},   // half-transparent black: grey
        {{999, -5, 300, 0}, {0, 255, 0}},    // out of range: clamped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.colour[0] << "," << c.colour[1] << "," << c.colour[2] << ","
                                        << c.colour[3]);
        Options options;
        std::copy(c.colour, c.colour + 4, options.colour);
        const std::optional<Rendered> rendered = render(box, options);
        ASSERT_TRUE(rendered);
        const std::optional<Image> image = decodePng(rendered->data, 3);
        ASSERT_TRUE(image);
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_EQ(image->at(10, 10, channel), c.ink[channel]) << "channel " << channel;
            EXPECT_EQ(image->at(60, 10, channel), 255) << "paper, channel " << channel;
        }
    }
}

TEST(RendererPage, TwoRendersInARowAreIdentical) {
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        Options options;
        options.mode = mode;
        const std::optional<Rendered> first = render(fullLabel(), options);
        const std::optional<Rendered> second = render(fullLabel(), options);
        render(label(30, 20, {filledBox(1, 1, 5, 5)}), options);  // something else in between
        const std::optional<Rendered> third = render(fullLabel(), options);
        ASSERT_TRUE(first && second && third);
        EXPECT_EQ(first->data, second->data);
        EXPECT_EQ(first->data, third->data);
    }
}

// ---- codes read back ---------------------------------------------------------------------------

struct CodeCase {
    const char* name;
    const char* type;
    int codeType;
    const char* value;
    const char* read;  // what a scanner reads
    int correctLevel;
    int rotate;
    float scale;
};

TEST(RendererCodes, DecodeBackToTheirValues) {
    const CodeCase cases[] = {
        {"code128", "barcode", 20, "ABC-12345", "ABC-12345", 0, 0, 8.0f},
        {"code128_12", "barcode", 20, "ABC-12345", "ABC-12345", 0, 0, 12.0f},
        {"code128_default", "barcode", 0, "KV2026", "KV2026", 0, 0, 8.0f},
        {"code128_turned", "barcode", 20, "TURN-90", "TURN-90", 0, 90, 8.0f},
        {"code39", "barcode", 8, "CODE39", "CODE39", 0, 0, 8.0f},
        {"ean13", "barcode", 13, "590123412345", "5901234123457", 0, 0, 8.0f},
        {"qr_default", "qrcode", 0, "HELLO-123", "HELLO-123", 0, 0, 8.0f},
        {"qr_low", "qrcode", 58, "https://example.com/label?id=1", "https://example.com/label?id=1", 1, 0, 8.0f},
        {"qr_quartile", "qrcode", 58, "Q level", "Q level", 3, 0, 8.0f},
        {"qr_high_12", "qrcode", 58, "High level 12", "High level 12", 4, 0, 12.0f},
        {"qr_turned", "qrcode", 58, "turned", "turned", 2, 270, 8.0f},
        {"qr_utf8", "qrcode", 58, "Grüße", "Grüße", 2, 0, 8.0f},
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool linear = std::string(c.type) == "barcode";
        // A turned barcode stands 40 mm high about the same centre, so its label is taller.
        const double labelHeight = linear && c.rotate != 0 ? 42 : 30;
        Json::Value code = linear ? element(c.type, 5, labelHeight / 2 - 6, 40, 12) : element(c.type, 15, 5, 20, 20);
        code["codeType"] = c.codeType;
        code["value"] = c.value;
        code["rotate"] = c.rotate;
        if (c.correctLevel != 0) code["correctLevel"] = c.correctLevel;
        Options options;
        options.scale = c.scale;
        const std::optional<Rendered> rendered = render(label(50, labelHeight, {code}), options);
        ASSERT_TRUE(rendered);
        EXPECT_EQ(scanCodes(rendered->data, c.name), std::vector<std::string>{c.read});
    }
}

TEST(RendererCodes, BarcodesScanInEveryBoxWidthWithWholeDotModulesCentredInTheBox) {
    for (int millimetres = 20; millimetres <= 49; ++millimetres) {
        SCOPED_TRACE(testing::Message() << millimetres << " mm");
        Json::Value code = element("barcode", 5, 5, millimetres, 10);
        code["codeType"] = 20;
        code["value"] = "KV-0001-ABC";
        const std::optional<Rendered> rendered = render(label(60, 20, {code}));
        ASSERT_TRUE(rendered);
        EXPECT_EQ(scanCodes(rendered->data, "code128_" + std::to_string(millimetres)),
                  std::vector<std::string>{"KV-0001-ABC"});
        // Along a row through the bars every bar and space is a whole number of modules.
        const Image image = *decodePng(rendered->data);
        const Rect bars = *inkBounds(image);
        std::vector<int> runs{1};
        for (int x = bars.x0 + 1; x < bars.x1; ++x) {
            if (image.ink(x, 80) == image.ink(x - 1, 80)) {
                ++runs.back();
            } else {
                runs.push_back(1);
            }
        }
        const int module = *std::min_element(runs.begin(), runs.end());
        for (int run : runs) EXPECT_EQ(run % module, 0) << run << " dots, module " << module;
        EXPECT_NEAR(bars.x0 - 40, 40 + millimetres * 8 - bars.x1, 1) << "centred";
    }
    // A 2-D code drawn as a barcode: square modules of whole dots (21 of 3 dots), centred.
    Json::Value qr = element("barcode", 5, 5, 40, 10);
    qr["codeType"] = 58;
    qr["value"] = "SQUARE";
    const Rect square = *inkBounds(preview(label(60, 20, {qr})));
    EXPECT_EQ(square.x1 - square.x0, 63);
    EXPECT_EQ(square.y1 - square.y0, 63);
    EXPECT_NEAR(square.x0 - 40, 360 - square.x1, 1);
}

TEST(RendererCodes, AQrCodeWithALogoStillDecodesAndShowsTheLogo) {
    Json::Value qr = element("qrcode", 15, 5, 20, 20);
    qr["value"] = "LOGO-QR-0001";
    qr["correctLevel"] = 4;
    // A white logo with a black frame: its middle must come out white.
    qr["logoBase64"] = pngBase64(40, 40, [](int x, int y) { return x < 4 || y < 4 || x >= 36 || y >= 36 ? 0 : 255; });
    qr["logoScale"] = 0.25;
    const std::optional<Rendered> rendered = render(label(50, 30, {qr}));
    ASSERT_TRUE(rendered);
    EXPECT_EQ(scanCodes(rendered->data, "qr_logo"), std::vector<std::string>{"LOGO-QR-0001"});

    const Image image = *decodePng(rendered->data);
    Json::Value plain = qr;
    plain.removeMember("logoBase64");
    const Image without = preview(label(50, 30, {plain}));
    // The finder patterns mark the code's corners; the logo is a quarter of its width, centred.
    const Rect code = *inkBounds(without);
    const int width = code.x1 - code.x0;
    const int logo = static_cast<int>(width * 0.25 + 0.5);
    const int left = code.x0 + static_cast<int>((width - logo) / 2.0 + 0.5);
    const int top = code.y0 + static_cast<int>((width - logo) / 2.0 + 0.5);
    const int frame = logo / 10;
    EXPECT_EQ(inkCount(image, Rect{left + frame + 1, top + frame + 1, left + logo - frame - 1, top + logo - frame - 1}), 0)
        << "the logo's white middle clears the modules";
    EXPECT_EQ(inkCount(image, Rect{left, top, left + logo, top + 1}), logo) << "the logo's frame";
    EXPECT_GT(inkCount(without, Rect{left + frame + 1, top + frame + 1, left + logo - frame - 1, top + logo - frame - 1}), 0);
    // Outside the logo the code is unchanged.
    EXPECT_EQ(inkCount(image, Rect{0, 0, left, 240}), inkCount(without, Rect{0, 0, left, 240}));
    EXPECT_EQ(inkCount(image, Rect{left + logo, 0, 400, 240}), inkCount(without, Rect{left + logo, 0, 400, 240}));

    // A logo elsewhere than the middle is not drawn.
    qr["logoPosition"] = 1;
    EXPECT_EQ(preview(label(50, 30, {qr})).pixels, without.pixels);
}

TEST(RendererCodes, TheCorrectionLevelChangesTheQrCode) {
    auto atLevel = [](const Json::Value& level) {
        Json::Value qr = element("qrcode", 15, 5, 20, 20);
        qr["value"] = "LEVELS-0123456789";
        if (!level.isNull()) qr["correctLevel"] = level;
        return preview(label(50, 30, {qr})).pixels;
    };
    const auto medium = atLevel(Json::Value());
    EXPECT_EQ(atLevel(2), medium);
    EXPECT_EQ(atLevel(0), medium) << "out of range: M";
    EXPECT_EQ(atLevel(9), medium);
    EXPECT_NE(atLevel(1), medium);
    EXPECT_NE(atLevel(4), medium);
    EXPECT_NE(atLevel(3), atLevel(4));
}

TEST(RendererCodes, ContentChecksAnswerWhatZintCanEncode) {
    const Renderer& renderer = Renderer::get();
    EXPECT_EQ(renderer.checkBarcodeContent(20, "ABC"), 1);
    EXPECT_EQ(renderer.checkBarcodeContent(13, "ABC"), 0);
    EXPECT_EQ(renderer.checkBarcodeContent(9999, "123"), 0);
    EXPECT_EQ(renderer.checkBarcodeContent(20, nullptr), 0);
    EXPECT_EQ(renderer.barcodeContentFormat(13, "590123412345"), 13);  // with its check digit
    EXPECT_EQ(renderer.barcodeContentFormat(13, "ABC"), -1);
}

// ---- records and trace -------------------------------------------------------------------------

TEST(RendererRecords, VFreeReleasesEachRecordOnceAndIgnoresOthers) {
    const Renderer& renderer = Renderer::get();
    const std::string text = label(10, 10, {});
    RenderedImage* record = renderer.generateDataFromPrintJson(text.c_str(), 1, 8, 8, nullptr, nullptr, 0, nullptr);
    ASSERT_NE(record, nullptr);
    renderer.vFree(record);
    renderer.vFree(record);  // a second time: ignored
    RenderedImage foreign{};
    renderer.vFree(&foreign);
    renderer.vFree(nullptr);

    const std::vector<Json::Value> lines = traceLines();
    std::vector<bool> frees;
    for (const Json::Value& line : lines) {
        if (line["fn"] == "vFree") frees.push_back(line["args"][0].asBool());
    }
    ASSERT_GE(frees.size(), 4u);
    EXPECT_EQ(std::vector<bool>(frees.end() - 4, frees.end()), (std::vector<bool>{true, false, false, false}));
}

TEST(RendererTrace, EveryCallAppendsALineWithItsArguments) {
    const Renderer& renderer = Renderer::get();
    const std::string shortLabel = label(10, 10, {});
    const float margin[4] = {1, 2, 3, 4};
    const int colour[4] = {255, 0, 0, 0};
    char zeroBlock[8] = {};
    renderer.vFree(renderer.generateDataFromPrintJson(shortLabel.c_str(), 0, 8, 12, margin, zeroBlock, 90, colour));
    std::string longText(2000, 'x');
    Json::Value text = element("text", 0, 0, 10, 10);
    text["value"] = longText;
    const std::string longLabel = label(10, 10, {text});
    renderer.vFree(renderer.generateDataFromPrintJson(longLabel.c_str(), 1, 8, 8, nullptr, nullptr, 0, nullptr));
    renderer.initFontsFilePath(nullptr);
    EXPECT_EQ(renderer.native_add(2, 3), 5);
    EXPECT_EQ(renderer.native_add(INT32_MAX, 1), INT32_MIN);

    std::vector<Json::Value> lines = traceLines();
    ASSERT_GE(lines.size(), 7u);
    lines.erase(lines.begin(), lines.end() - 7);
    for (const Json::Value& line : lines) EXPECT_EQ(line["lib"], "renderer");

    EXPECT_EQ(lines[0]["fn"], "generateDataFromPrintJson");
    const Json::Value& args = lines[0]["args"];
    ASSERT_EQ(args.size(), 8u);
    EXPECT_EQ(args[0].asString(), shortLabel);
    EXPECT_EQ(args[1], 0);
    EXPECT_EQ(args[2].asDouble(), 8.0);
    EXPECT_EQ(args[3].asDouble(), 12.0);
    EXPECT_EQ(Json::FastWriter().write(args[4]), "[1.0,2.0,3.0,4.0]\n");
    EXPECT_EQ(args[5], true);
    EXPECT_EQ(args[6], 90);
    EXPECT_EQ(Json::FastWriter().write(args[7]), "[255,0,0,0]\n");
    EXPECT_EQ(lines[1]["fn"], "vFree");

    EXPECT_EQ(lines[2]["fn"], "generateDataFromPrintJson");
    EXPECT_EQ(lines[2]["args"][0]["length"].asUInt64(), longLabel.size()) << "a long label by its length";
    EXPECT_TRUE(lines[2]["args"][4].isNull());
    EXPECT_EQ(lines[2]["args"][5], false);

    EXPECT_EQ(lines[4]["fn"], "initFontsFilePath");
    EXPECT_TRUE(lines[4]["args"][0].isNull());
    EXPECT_EQ(lines[5]["fn"], "native_add");
    EXPECT_EQ(Json::FastWriter().write(lines[5]["args"]), "[2,3]\n");
}

}  // namespace
