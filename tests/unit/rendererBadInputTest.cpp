// Whatever the renderer is given, it answers: text that is no label renders nothing, an element
// that cannot be drawn draws nothing while the rest of the label is drawn, and no size, number,
// text or picture bytes make it crash, hang or read past its input.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "tests/support/rendererHarness.h"

using namespace rendertest;

namespace {

// The renderer's pango, seen from the test: every text that the renderer lays out passes through
// pango_layout_set_text, which this program exports (so it is found before pango's own) and hands
// on, counting the bytes, so that a test can tell how much text a render laid out.
std::atomic<size_t> laidOutBytes{0};

}  // namespace

extern "C" void pango_layout_set_text(void* layout, const char* text, int length) {
    using SetText = void (*)(void*, const char*, int);
    static const SetText pangos = [] {
        void* pango = dlopen("libpango-1.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
        return pango != nullptr ? reinterpret_cast<SetText>(dlsym(pango, "pango_layout_set_text")) : nullptr;
    }();
    laidOutBytes += length >= 0 ? static_cast<size_t>(length) : std::strlen(text);
    if (pangos != nullptr) pangos(layout, text, length);
}

namespace {

Json::Value filledBox(double x, double y, double width, double height) {
    Json::Value e = element("graph", x, y, width, height);
    e["graphType"] = 4;
    return e;
}

Json::Value with(Json::Value e, const char* key, const Json::Value& value) {
    e[key] = value;
    return e;
}

// A label marked strict: every element must be drawn.
std::string strictLabel(const std::vector<Json::Value>& elements) {
    std::string text = label(60, 30, elements);
    text.insert(1, "\"strict\":true,");
    return text;
}

TEST(RendererBadInput, TextThatIsNoLabelOrHasNoPixelsRendersNothing) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string deepObject = "{\"width\":10,\"height\":10,\"elements\":" + deep + "}";
    const std::string cases[] = {
        "",
        "not json",
        "[]",
        "42",
        "\"label\"",
        "null",
        "{\"width\":50,\"height\":30",  // cut short
        deep,
        deepObject,
        R"({"width":"50","height":30})",  // a size of the wrong type counts as 0
        R"({"width":0,"height":30})",
        R"({"width":50,"height":-3})",
        R"({"width":0.01,"height":30})",  // less than half a pixel
        R"({"width":1e300,"height":30})",
        R"({"width":1e999,"height":30})",
        R"({"width":2501,"height":10})",   // 20008 pixels wide
        R"({"width":2500,"height":2500})", // 20000 x 20000: more pixels than a page may have
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.substr(0, 80));
        EXPECT_FALSE(render(text));
        Options print;
        print.mode = 0;
        EXPECT_FALSE(render(text, print));
    }
    EXPECT_EQ(Renderer::get().generateDataFromPrintJson(nullptr, 1, 8, 8, nullptr, nullptr, 0, nullptr), nullptr);

    // The largest sides still render.
    const std::optional<Rendered> wide = render(R"({"width":2500,"height":10})");
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->width, 20000);
    EXPECT_EQ(wide->height, 80);
}

TEST(RendererBadInput, ScalesThatAreNoSizeRenderNothing) {
    for (float scale : {0.0f, -8.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        1e30f}) {
        SCOPED_TRACE(scale);
        Options options;
        options.scale = scale;
        EXPECT_FALSE(render(label(50, 30, {filledBox(1, 1, 5, 5)}), options));
    }
}

TEST(RendererBadInput, AnElementThatCannotBeDrawnDrawsNothingAndTheRestIsDrawn) {
    Json::Value text = element("text", 5, 5, 40, 10);
    text["value"] = "Text";
    text["fontSize"] = 12;
    Json::Value bar = element("barcode", 5, 5, 40, 10);
    bar["value"] = "12345";
    Json::Value qr = element("qrcode", 5, 5, 20, 20);
    qr["value"] = "QR";
    Json::Value picture = element("image", 5, 5, 10, 10);
    const std::string png = pngBase64(8, 8, [](int, int) { return 0; });
    picture["imageData"] = png;
    std::string truncated = base64(fromBase64(png));
    truncated.resize(truncated.size() / 2);
    // A PNG whose header claims 100000 x 100000 pixels.
    std::vector<unsigned char> claim = fromBase64(png);
    claim[16] = 0x00, claim[17] = 0x01, claim[18] = 0x86, claim[19] = 0xA0;
    claim[20] = 0x00, claim[21] = 0x01, claim[22] = 0x86, claim[23] = 0xA0;
    // A JPEG whose Huffman table declares 16 x 255 codes, more than any table holds.
    std::vector<unsigned char> tables = fromBase64(jpegBase64(8, 8, [](int x, int) { return x * 30; }));
    for (size_t i = 0; i + 21 < tables.size(); ++i) {
        if (tables[i] == 0xFF && tables[i + 1] == 0xC4) {
            std::fill(tables.begin() + static_cast<std::ptrdiff_t>(i + 5), tables.begin() + static_cast<std::ptrdiff_t>(i + 21), 255);
            break;
        }
    }
    std::mt19937 random(7);
    std::vector<unsigned char> noise(3000);
    for (unsigned char& byte : noise) byte = static_cast<unsigned char>(random());

    struct Case {
        std::string name;
        Json::Value element;
    };
    std::vector<Case> cases = {
        {"unknown type", with(element("circle", 5, 5, 10, 10), "radius", 3)},
        {"no type", with(filledBox(5, 5, 10, 10), "type", Json::Value())},
        {"type not a text", with(filledBox(5, 5, 10, 10), "type", 4)},
        {"not an object", Json::Value(42)},
        {"text value not a text", with(text, "value", 5)},
        {"text size not a number", with(text, "fontSize", "big")},
        {"text size 0", with(text, "fontSize", 0)},
        {"text size below 0", with(text, "fontSize", -3)},
        {"text without width", with(text, "width", 0)},
        {"text with a width of the wrong type", with(text, "width", "40")},
        {"text without height", with(text, "height", -1)},
        {"barcode EAN-13 of letters", with(with(bar, "codeType", 13), "value", "ABCDEFGHIJKL")},
        {"barcode of an unknown symbology", with(bar, "codeType", 9999)},
        {"barcode of a negative symbology", with(bar, "codeType", -2)},
        {"barcode without value", with(bar, "value", "")},
        {"barcode value not a text", with(bar, "value", 12345)},
        {"barcode Code 128 of Chinese", with(bar, "value", "\xE4\xB8\xAD\xE6\x96\x87")},
        {"barcode of invalid UTF-8", with(bar, "value", "ab\xFE")},
        {"barcode without size", with(bar, "height", 0)},
        {"QR code without value", with(qr, "value", "")},
        {"QR code too long", with(qr, "value", std::string(8000, '7') + "x" + std::string(4000, 'y'))},
        {"QR code of an unknown symbology", with(qr, "codeType", 4242)},
        {"QR code without size", with(qr, "width", 0)},
        {"image that is no base64", with(picture, "imageData", "!!! not base64 !!!")},
        {"image of a data URL", with(picture, "imageData", "data:image/png;base64," + png)},
        {"image of random bytes", with(picture, "imageData", base64(noise))},
        {"image cut short", with(picture, "imageData", truncated)},
        {"JPEG with an overfull Huffman table", with(picture, "imageData", base64(tables))},
        {"image claiming too many pixels", with(picture, "imageData", base64(claim))},
        {"image without data", with(picture, "imageData", "")},
        {"image data not a text", with(picture, "imageData", 17)},
        {"image without size", with(picture, "width", 0)},
        {"line without length", element("line", 5, 5, 0, 0)},
        {"line of negative size", element("line", 5, 5, -10, -1)},
        {"shape of an unknown type", with(filledBox(5, 5, 10, 10), "graphType", 99)},
        {"shape without height", filledBox(5, 5, 10, 0)},
        {"far beyond the page", filledBox(1e12, 5, 10, 10)},
        {"larger than any page", filledBox(0, 0, 1e12, 1e12)},
        {"before the page", filledBox(-1e9, -1e9, 10, 10)},
    };
    for (const auto& [name, data] : headerOnlyPictures()) cases.push_back({name, with(picture, "imageData", data)});
    const Json::Value good = filledBox(40, 20, 10, 5);
    const Image goodOnly = preview(label(60, 30, {good}));
    EXPECT_EQ(preview(strictLabel({good})).pixels, goodOnly.pixels);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image alone = preview(label(60, 30, {c.element}));
        EXPECT_EQ(alone.width, 480);
        EXPECT_EQ(alone.height, 240);
        EXPECT_EQ(inkCount(alone), 0);
        EXPECT_EQ(preview(label(60, 30, {c.element, good})).pixels, goodOnly.pixels);
        EXPECT_EQ(preview(label(60, 30, {good, c.element})).pixels, goodOnly.pixels);
        // In a strict label it fails the render.
        EXPECT_FALSE(render(strictLabel({good, c.element})));
    }
}

TEST(RendererBadInput, ExtremeValuesAreKeptWithinThePageAndTheBox) {
    Json::Value text = element("text", 5, 5, 40, 10);
    text["value"] = "Extreme";
    text["fontSize"] = 12;
    Json::Value line = element("line", 5, 10, 40, 0.5);
    line["lineType"] = 1;
    line["dash"] = Json::Value(Json::arrayValue);
    line["dash"].append(1e-9);
    line["dash"].append(1e-9);
    Json::Value shape = filledBox(5, 5, 40, 10);
    shape["graphType"] = 2;

    struct Case {
        const char* name;
        Json::Value element;
        bool inks;
    };
    const Case cases[] = {
        {"huge font", with(with(text, "fontSize", 1e9), "textAlignVertical", 1), true},
        {"huge letter spacing", with(with(text, "letterSpacing", 1e12), "lineMode", 1), true},
        {"huge negative letter spacing", with(text, "letterSpacing", -1e12), true},
        {"huge line spacing", with(with(text, "value", "a\nb\nc"), "lineSpacing", 1e12), true},
        {"tiny font", with(text, "fontSize", 1e-9), false},
        {"invalid UTF-8 text", with(text, "value", "a\xFE\xC3"), true},
        {"zero byte in text", with(text, "value", std::string("a\0b", 3)), true},
        {"markup is text", with(text, "value", "<b>not bold</b> & <i"), true},
        {"huge rotation", with(text, "rotate", 1e10), true},  // no int32: counts as 0
        {"dashes finer than a pixel", line, true},
        {"huge corner radius", with(shape, "cornerRadius", 1e30), true},
        {"negative corner radius", with(shape, "cornerRadius", -4), true},
        {"huge outline", with(with(shape, "graphType", 1), "lineWidth", 1e30), true},
        {"huge logo", with(with(with(element("qrcode", 5, 5, 20, 20), "value", "x"), "logoScale", 1e9),
                           "logoBase64", pngBase64(2, 2, [](int, int) { return 0; })),
         true},
    };
    const Rect box{40, 40, 360, 120};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = preview(label(60, 30, {c.element}));
        EXPECT_EQ(image.width, 480);
        if (!c.inks) {
            EXPECT_EQ(inkCount(image), 0);
            continue;
        }
        const std::optional<Rect> ink = inkBounds(image);
        ASSERT_TRUE(ink);
        if (std::string(c.element["type"].asString()) != "qrcode" && c.element["rotate"].isInt() &&
            c.element["rotate"].asInt() == 0) {
            EXPECT_TRUE(box.contains(*ink));
        }
    }
}

// FNV-1a of the preview's grey levels and size.
uint64_t digest(const Image& image) {
    uint64_t hash = 14695981039346656037ull;
    const auto add = [&](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ull; };
    for (int side : {image.width, image.height}) {
        for (int shift = 0; shift < 32; shift += 8) add(static_cast<unsigned char>(side >> shift));
    }
    for (unsigned char level : image.pixels) add(level);
    return hash;
}

// A text far larger than its box costs what can show in the box; what shows of it is what shows
// of its first lines, and an ordinary text is drawn exactly as before the bound. The digests are
// of the previews of the renderer before it laid out only what can show, with Debian 12's DejaVu
// Sans, pango and cairo; other versions of those draw other pixels and need digests of their own.
TEST(RendererBadInput, ATextFarLargerThanItsBoxIsLaidOutOnlyAsFarAsItCanShow) {
    const auto textIn = [](const std::string& value, double width, double height) {
        Json::Value e = element("text", 5, 5, width, height);
        e["value"] = value;
        e["fontSize"] = 10;
        return e;
    };
    const auto laidOut = [](const std::string& labelJson, int mode) {
        laidOutBytes = 0;
        Options options;
        options.mode = mode;
        EXPECT_TRUE(render(labelJson, options));
        return laidOutBytes.load();
    };
    // Ordinary texts, pixel for pixel as before.
    const std::string paragraph = "Best before 12/2026. Keep cool and dry; store below 25 degrees.";
    const std::string item = "Item 4711\nBatch A-17\r\nLot 0815\nNet 250 g";
    Json::Value boldUnderlined(Json::arrayValue);
    for (bool flag : {true, false, true, false}) boldUnderlined.append(flag);
    struct Ordinary {
        const char* name;
        Json::Value element;
        uint64_t digest;
    };
    const auto aligned = [](Json::Value e, int horizontal, int vertical) {
        return with(with(e, "textAlignHorizonral", horizontal), "textAlignVertical", vertical);
    };
    const Ordinary ordinary[] = {
        {"wrapped by words", textIn(paragraph, 30, 12), 704179006422054292u},
        {"lines, centred, middle", aligned(textIn(item, 30, 20), 1, 1), 7306161772477190075u},
        {"lines, right, bottom, overflowing", aligned(textIn(item, 30, 9), 2, 2), 11846882402787558153u},
        {"wrapped anywhere", with(textIn(paragraph, 25, 15), "lineBreakMode", 0), 7793402817540852654u},
        {"wrapped by words and long words",
         with(textIn("Ref KV-0001-ABC-20260419-XYZ end", 15, 15), "lineBreakMode", 2), 2267149286937776616u},
        {"long word by words, centred", aligned(textIn("KV-0001-ABC-20260419-XYZ-0001 end", 15, 15), 1, 0),
         14442474653547336896u},
        {"one line, cut, centred", aligned(with(textIn(paragraph, 30, 6), "lineMode", 1), 1, 0),
         14120939322490568513u},
        {"lines shrunk to fit", aligned(with(textIn(item + " and a longer last line", 30, 12), "lineMode", 2), 0, 1),
         615526006381976784u},
        {"overflowing, middle, turned", with(aligned(textIn(paragraph + " " + paragraph, 30, 10), 0, 1), "rotate", 90),
         6177476854095632634u},
        {"spaced, bold",
         with(with(with(textIn(item, 40, 25), "letterSpacing", 0.4), "lineSpacing", 1.5), "fontStyle", boldUnderlined),
         13969414841552340890u},
    };
    for (const Ordinary& c : ordinary) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(digest(preview(label(60, 40, {c.element}))), c.digest);
    }

    std::string words;
    for (int i = 0; words.size() < (16u << 20); ++i) words += "word" + std::to_string(i % 1000) + " ";
    const std::string head = words.substr(0, 4096);
    std::string lines;
    for (int i = 0; lines.size() < (256u << 10); ++i) lines += "line " + std::to_string(i) + "\n";

    struct Huge {
        const char* name;
        Json::Value element;
        Json::Value sameAs;  // what it shows: the same label with the text's head only
    };
    Json::Value middle = with(with(textIn(words, 50, 30), "textAlignVertical", 2), "textAlignHorizonral", 1);
    const Huge huge[] = {
        {"words, wrapped", textIn(words, 50, 30), textIn(head, 50, 30)},
        {"words, at the bottom and centred: drawn from the top", middle,
         with(textIn(head, 50, 30), "textAlignHorizonral", 1)},
        {"one word", with(textIn(std::string(128u << 10, 'w'), 50, 30), "rotate", 90),
         with(textIn(std::string(4096, 'w'), 50, 30), "rotate", 90)},
        {"lines, not wrapped", with(textIn(lines, 50, 30), "lineMode", 1),
         with(textIn(lines.substr(0, 4096), 50, 30), "lineMode", 1)},
        {"one line, shrunk to fit", with(textIn(std::string(128u << 10, 'w'), 50, 30), "lineMode", 2), Json::Value()},
    };
    for (const Huge& c : huge) {
        SCOPED_TRACE(c.name);
        const std::string labelJson = label(60, 40, {c.element});
        for (int mode : {1, 0}) EXPECT_LT(laidOut(labelJson, mode), 64u << 10) << "mode " << mode;
        if (!c.sameAs.isNull()) {
            EXPECT_EQ(digest(preview(labelJson)), digest(preview(label(60, 40, {c.sameAs}))));
        }
    }
    // The long text in a small box of before.
    std::string small;
    while (small.size() < 200000) small += "word ";
    const Image smallBox = preview(label(60, 30, {with(textIn(small, 20, 5), "fontSize", 8)}));
    EXPECT_TRUE(Rect({40, 40, 200, 80}).contains(*inkBounds(smallBox)));
}

// Random damage to a whole label and to pictures: every answer is a page or nothing.
TEST(RendererBadInput, DamagedLabelsAndPicturesNeverBreakTheRenderer) {
    Json::Value text = element("text", 1, 1, 30, 8);
    text["value"] = "Damaged";
    text["fontSize"] = 10;
    text["fontStyle"] = Json::Value(Json::arrayValue);
    for (bool flag : {true, true, true, true}) text["fontStyle"].append(flag);
    Json::Value bar = element("barcode", 1, 10, 30, 8);
    bar["value"] = "DAMAGE-1";
    bar["fontSize"] = 6;
    bar["textPosition"] = 2;
    Json::Value qr = element("qrcode", 34, 1, 14, 14);
    qr["value"] = "DAMAGE-2";
    qr["logoBase64"] = pngBase64(8, 8, [](int x, int) { return x * 30; });
    Json::Value line = element("line", 1, 20, 46, 0.3);
    line["lineType"] = 1;
    Json::Value shape = element("graph", 1, 22, 20, 7);
    shape["graphType"] = 5;
    shape["cornerRadius"] = 1;
    const std::vector<std::string> pictures = {
        pngBase64(12, 12, [](int x, int y) { return (x * y) & 255; }),
        jpegBase64(12, 12, [](int x, int y) { return (x * 20 + y) & 255; }),
        bmpBase64(12, 12, [](int x, int) { return x * 20; }),
        gifBase64(12, 12, [](int x, int y) { return (x + y) % 2 ? 0 : 255; }),
    };
    std::mt19937 random(2026);

    // Damaged pictures, byte by byte.
    for (const std::string& picture : pictures) {
        const std::vector<unsigned char> bytes = fromBase64(picture);
        for (int round = 0; round < 150; ++round) {
            std::vector<unsigned char> damaged = bytes;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < changes; ++i) damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
            if (round % 5 == 0) damaged.resize(random() % damaged.size());
            Json::Value image = element("image", 36, 17, 12, 12);
            image["imageData"] = base64(damaged);
            const std::optional<Rendered> rendered = render(label(50, 30, {image}));
            ASSERT_TRUE(rendered);
            EXPECT_EQ(rendered->width, 400);
        }
    }

    // Damaged label text: any byte changed, dropped or doubled.
    Json::Value image = element("image", 36, 17, 12, 12);
    image["imageData"] = pictures[0];
    const std::string whole = label(50, 30, {text, bar, qr, line, shape, image}, {"/nonexistent.ttf"});
    for (int round = 0; round < 400; ++round) {
        std::string damaged = whole;
        const int changes = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < changes; ++i) {
            const size_t at = random() % damaged.size();
            switch (random() % 3) {
                case 0: damaged[at] = static_cast<char>(random()); break;
                case 1: damaged.erase(at, 1); break;
                default: damaged.insert(at, 1, damaged[at]); break;
            }
        }
        for (int mode : {1, 0}) {
            Options options;
            options.mode = mode;
            const std::optional<Rendered> rendered = render(damaged, options);
            if (!rendered) continue;
            EXPECT_GT(rendered->width, 0);
            EXPECT_GT(rendered->height, 0);
            if (mode == 1) {
                EXPECT_TRUE(decodePng(rendered->data)) << damaged;
            }
        }
    }
}

}  // namespace
