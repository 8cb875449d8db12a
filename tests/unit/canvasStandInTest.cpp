// The canvas stand-in loaded for real: the label JSON it writes for each element kind (the
// contract with the renderer, docs/label-json.md), its board and draw order, its hand-outs, and
// its trace lines. The bridge draws through a table whose canvas entries are the real library's.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "kvImageGallery/base64.h"
#include "tests/unit/drawTestSupport.h"

namespace {

using drawtest::parse;
using drawtest::request;

const std::string kCanvasPath = std::string(KV_BIN_DIR) + "/libQXCanvasImageKelo.so";

bool isLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

class CanvasStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        tracePath = std::string(KV_TEST_DIR) + "/canvas-trace-" + std::to_string(getpid()) + ".jsonl";
        std::remove(tracePath.c_str());
        // Read on the library's first call, so it is set before the library is loaded.
        setenv("KVSIM_TRACE", tracePath.c_str(), 1);
        ASSERT_FALSE(isLoaded(kCanvasPath)) << "each test starts with a fresh library";
        handle = dlopen(kCanvasPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        bridge.libraryApi = FakeThirdLibrary::makeTable();
        ThirdLibraryApi& table = *bridge.libraryApi;
#define KV_USE_CANVAS(name, result, params) \
    table.name = reinterpret_cast<decltype(table.name)>(dlsym(handle, #name));
        KV_QX_EXPORTS(KV_USE_CANVAS)
        KV_QX_OPTIONAL_EXPORTS(KV_USE_CANVAS)
#undef KV_USE_CANVAS
    }

    void TearDown() override {
        bridge.libraryApi.reset();
        if (handle != nullptr) dlclose(handle);
        unsetenv("KVSIM_TRACE");
        std::remove(tracePath.c_str());
        FakeThirdLibrary::instance().reset();
    }

    void draw(const std::string& apiName, const std::string& parameter) {
        const Json::Value reply = parse(bridge.callDrawApi(request(apiName, parameter)));
        ASSERT_EQ(reply["resultAck"]["errorCode"].asInt(), 0) << apiName;
    }

    void board() { draw("InitDrawingBoard", R"({"path":"/f/a.ttf","width":50,"height":30,"rotate":90})"); }

    Json::Value label() { return parse(bridge.GenerateLableJson()); }

    std::vector<Json::Value> traceLines() const {
        std::vector<Json::Value> lines;
        std::ifstream file(tracePath);
        for (std::string line; std::getline(file, line);) lines.push_back(parse(line));
        return lines;
    }

    std::string tracePath;
    void* handle = nullptr;
    kvPrinterSdkThirdApi bridge;
};

// ---- label JSON of each element kind -------------------------------------------------------

struct ElementCase {
    const char* apiName;
    const char* parameter;
    const char* element;  // as label JSON
};
void PrintTo(const ElementCase& c, std::ostream* os) { *os << c.apiName; }

class CanvasElement : public CanvasStandIn, public ::testing::WithParamInterface<ElementCase> {};

TEST_P(CanvasElement, IsWrittenWithEveryArgumentUnderItsKey) {
    board();
    draw(GetParam().apiName, GetParam().parameter);
    const Json::Value expected = parse(std::string(R"({"width":50.0,"height":30.0,"rotate":90,
        "fontFiles":["/f/a.ttf"],"elements":[)") + GetParam().element + "]}");
    ASSERT_FALSE(expected.isNull()) << GetParam().element;
    EXPECT_EQ(label(), expected) << GetParam().apiName << "\n" << bridge.GenerateLableJson();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CanvasElement,
    ::testing::Values(
        ElementCase{"DrawLableText",
                    R"({"x":1,"y":2,"width":30,"height":5,"value":"Hi 中","fontFamily":"DejaVu Sans","fontSize":12,
                        "rotate":0,"lineMode":1,"textAlignHorizonral":1,"textAlignVertical":2,"letterSpacing":0.5,
                        "lineSpacing":0.25,"fontStyle":[true,false,false,true]})",
                    R"({"type":"text","x":1.0,"y":2.0,"width":30.0,"height":5.0,"rotate":0,"value":"Hi 中",
                        "fontFamily":"DejaVu Sans","fontSize":12.0,"textAlignHorizonral":1,"textAlignVertical":2,
                        "lineMode":1,"letterSpacing":0.5,"lineSpacing":0.25,"fontStyle":[true,false,false,true],
                        "lineBreakMode":1})"},
        ElementCase{"DrawLableBarCode",
                    R"({"x":1,"y":2,"width":40,"height":10,"codeType":20,"value":"ABC123","fontSize":8,
                        "rotate":180,"textHeight":3,"textPosition":1})",
                    R"({"type":"barcode","x":1.0,"y":2.0,"width":40.0,"height":10.0,"rotate":180,"codeType":20,
                        "value":"ABC123","fontSize":8.0,"textHeight":3.0,"textPosition":1})"},
        ElementCase{"DrawLableQrCode",
                    R"({"x":30,"y":2,"width":18,"height":18,"codeType":58,"value":"hello","rotate":0,
                        "correctLevel":4,"logoBase64":"iVBO"})",
                    R"({"type":"qrcode","x":30.0,"y":2.0,"width":18.0,"height":18.0,"rotate":0,"value":"hello",
                        "codeType":58})"},
        ElementCase{"DrawLableQrCodeWithImage",
                    R"({"x":30,"y":2,"width":18,"height":18,"codeType":58,"value":"hello","rotate":0,
                        "correctLevel":4,"logoBase64":"iVBO","logoPosition":0,"logoScale":0.25})",
                    R"({"type":"qrcode","x":30.0,"y":2.0,"width":18.0,"height":18.0,"rotate":0,"value":"hello",
                        "codeType":58,"correctLevel":4,"logoBase64":"iVBO","logoPosition":0,"logoScale":0.25})"},
        ElementCase{"DrawLableLine",
                    R"({"x":1,"y":15,"width":48,"height":0.5,"rotate":0,"lineType":1,"dashwidth":[1,0.5]})",
                    R"({"type":"line","x":1.0,"y":15.0,"width":48.0,"height":0.5,"rotate":0,"lineType":1,
                        "dash":[1.0,0.5]})"},
        ElementCase{"DrawLableGraph",
                    R"({"x":1,"y":1,"width":48,"height":28,"graphType":2,"rotate":0,"cornerRadius":1.5,
                        "lineWidth":0.5,"lineType":0})",
                    R"({"type":"graph","x":1.0,"y":1.0,"width":48.0,"height":28.0,"rotate":0,"graphType":2,
                        "cornerRadius":1.5,"lineWidth":0.5,"lineType":0,"dash":[0.0,0.0]})"},
        ElementCase{"DrawLableImage",
                    R"({"imageData":"iVBO","x":30,"y":2,"width":18,"height":18,"rotate":90,
                        "imageProcessingValue":128})",
                    R"({"type":"image","x":30.0,"y":2.0,"width":18.0,"height":18.0,"rotate":90,"imageData":"iVBO",
                        "mode":1,"imageProcessingValue":128.0})"}));

// ---- the board -----------------------------------------------------------------------------

TEST_F(CanvasStandIn, ElementsKeepTheirDrawOrderAndANewBoardDropsThem) {
    board();
    draw("DrawLableLine", R"({"x":1})");
    draw("DrawLableText", R"({"value":"a"})");
    draw("DrawLableLine", R"({"x":2})");
    Json::Value elements = label()["elements"];
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(elements[0]["x"].asDouble(), 1.0);
    EXPECT_EQ(elements[1]["type"].asString(), "text");
    EXPECT_EQ(elements[2]["x"].asDouble(), 2.0);
    draw("InitDrawingBoard", R"({"width":40,"height":20})");
    EXPECT_EQ(label(), parse(R"({"width":40.0,"height":20.0,"rotate":0,"fontFiles":[""],"elements":[]})"));
}

TEST_F(CanvasStandIn, BeforeAnyBoardThereIsNoLabel) {
    draw("DrawLableText", R"({"value":"early"})");
    EXPECT_EQ(bridge.GenerateLableJson(), "");
    board();
    EXPECT_TRUE(label()["elements"].empty());
}

TEST_F(CanvasStandIn, NumbersAreWrittenAsTheShortestTextOfTheirFloat) {
    board();
    draw("DrawLableText", R"({"x":0.1,"y":12.7,"fontSize":10.5})");
    const std::string text = bridge.GenerateLableJson();
    // The key and its number as written, ended by the next member or the object's end.
    const auto written = [&](const std::string& member) {
        const size_t at = text.find(member);
        return at != std::string::npos && (text[at + member.size()] == ',' || text[at + member.size()] == '}');
    };
    EXPECT_TRUE(written("\"x\":0.1")) << text;
    EXPECT_TRUE(written("\"y\":12.7")) << text;
    EXPECT_TRUE(written("\"fontSize\":10.5")) << text;
    EXPECT_TRUE(written("\"width\":50.0")) << text;
    EXPECT_EQ(static_cast<float>(parse(text)["elements"][0]["x"].asDouble()), 0.1f);
}

TEST_F(CanvasStandIn, EachFaultyUtf8SequenceIsWrittenAsOneReplacementCharacter) {
    board();
    draw("DrawLableText", R"({"value":3})");  // the bridge's wrong-type mark, the byte FE
    const std::pair<const char*, const char*> texts[] = {
        {"\xF0" "ABCDEF", "\xEF\xBF\xBD" "ABCDEF"},
        {"\xE4XYZ-tail", "\xEF\xBF\xBDXYZ-tail"},
        {"\xF0\x9F\x98X", "\xEF\xBF\xBDX"},  // a character cut short
        {"a\xED\xA0\x80z", "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},  // a surrogate: no character starts
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const auto& [text, written] : texts) {
        bridge.libraryApi->DrawLableBarCode(0, 0, 1, 1, 20, text, 0, 0, 0, 0);
    }
    const Json::Value elements = label()["elements"];
    ASSERT_EQ(elements.size(), 6u);
    EXPECT_EQ(elements[0]["value"].asString(), "\xEF\xBF\xBD");
    for (Json::ArrayIndex i = 0; i < 5; ++i) EXPECT_EQ(elements[i + 1]["value"].asString(), texts[i].second) << i;
}

TEST_F(CanvasStandIn, NullPointersLeaveTheirKeysOutAndNumbersJsonCannotHoldAreNull) {
    board();
    ThirdLibraryApi& canvas = *bridge.libraryApi;
    canvas.DrawLableText(NAN, INFINITY, 1, 1, nullptr, nullptr, 10, 0, 0, 0, 0, 0, 0, nullptr, 1);
    canvas.DrawLableLine(0, 0, 1, 1, 0, 0, nullptr);
    canvas.DrawLableImage(nullptr, 0, 0, 1, 1, 0, 1, 127);
    canvas.DrawLableQrCodeWithImage(0, 0, 1, 1, "v", 58, 0, 2, nullptr, 0, 0.2f);
    const char* noFiles[1] = {nullptr};
    const Json::Value elements = label()["elements"];
    ASSERT_EQ(elements.size(), 4u);
    EXPECT_TRUE(elements[0]["x"].isNull());
    EXPECT_TRUE(elements[0]["y"].isNull());
    for (const char* key : {"value", "fontFamily", "fontStyle"}) EXPECT_FALSE(elements[0].isMember(key)) << key;
    EXPECT_FALSE(elements[1].isMember("dash"));
    EXPECT_FALSE(elements[2].isMember("imageData"));
    EXPECT_FALSE(elements[3].isMember("logoBase64"));
    EXPECT_TRUE(elements[3].isMember("logoScale"));
    canvas.InitDrawingBoard(10, 10, 0, noFiles, 1);
    EXPECT_EQ(label()["fontFiles"], parse("[]"));
    canvas.InitDrawingBoard(10, 10, 0, nullptr, 1);
    EXPECT_EQ(label()["fontFiles"], parse("[]"));
}

TEST_F(CanvasStandIn, AnyNonZeroStyleByteCountsAsSet) {
    board();
    const unsigned char bytes[4] = {0, 2, 1, 255};
    bridge.libraryApi->DrawLableText(0, 0, 1, 1, "a", "", 10, 0, 0, 0, 0, 0, 0,
                                     reinterpret_cast<const bool*>(bytes), 1);
    EXPECT_EQ(label()["elements"][0]["fontStyle"], parse("[false,true,true,true]"));
}

// ---- hand-outs and trace -------------------------------------------------------------------

TEST_F(CanvasStandIn, EveryCallIsTracedWithItsArguments) {
    board();
    draw("DrawLableText", R"({"value":"Hi","fontStyle":[true,true,false,false],"rotate":90})");
    bridge.GenerateLableJson();
    const std::vector<Json::Value> lines = traceLines();
    ASSERT_EQ(lines.size(), 4u);
    for (const Json::Value& line : lines) EXPECT_EQ(line["lib"].asString(), "canvas");
    EXPECT_EQ(lines[0]["fn"].asString(), "InitDrawingBoard");
    EXPECT_EQ(lines[0]["args"], parse(R"([50.0, 30.0, 90, ["/f/a.ttf"], 1])"));
    EXPECT_EQ(lines[1]["fn"].asString(), "DrawLableText");
    EXPECT_EQ(lines[1]["args"],
              parse(R"([0.0, 0.0, 0.0, 0.0, "Hi", "", 0.0, 90, 0, 0, 0, 0.0, 0.0, [true,true,false,false], 1])"));
    EXPECT_EQ(lines[2]["fn"].asString(), "GenerateLableJson");
    EXPECT_EQ(lines[2]["args"], parse("[]"));
    EXPECT_EQ(lines[3]["fn"].asString(), "freeData");
    EXPECT_EQ(lines[3]["args"], parse("[true]"));
}

TEST_F(CanvasStandIn, FreeDataTakesBackOnlyItsOwnTextsAndEachOnce) {
    board();
    ThirdLibraryApi& canvas = *bridge.libraryApi;
    char* text = canvas.GenerateLableJson();
    ASSERT_NE(text, nullptr);
    canvas.freeData(text);
    char foreign[8] = "label";
    canvas.freeData(foreign);
    canvas.freeData(nullptr);
    const std::vector<Json::Value> lines = traceLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2]["args"], parse("[true]"));
    EXPECT_EQ(lines[3]["args"], parse("[false]"));
    EXPECT_EQ(lines[4]["args"], parse("[false]"));
    EXPECT_STREQ(foreign, "label");
}

TEST_F(CanvasStandIn, WithoutTheVariableNothingIsTraced) {
    // The trace is opened on the first call of this fresh library.
    unsetenv("KVSIM_TRACE");
    board();
    EXPECT_TRUE(traceLines().empty());
}

// ---- the stand-ins together ----------------------------------------------------------------

TEST(StandIns, LoadCompletelyBesideTheSimulatedSdkAndRenderTheDrawnBoard) {
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(KV_BIN_DIR, resolved), nullptr);
    const std::string folder = resolved;
    const std::unique_ptr<void, int (*)(void*)> sdk(dlopen((folder + "/libkvPrinterSdk.so").c_str(), RTLD_NOW),
                                                    &dlclose);
    ASSERT_NE(sdk, nullptr);
    {
        kvPrinterSdkThirdApi bridge;
        testing::internal::CaptureStdout();
        bridge.loadLibrary();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "QXCanvasImage=" + folder +
                                                              "/libQXCanvasImageKelo.so\npelixPath=" + folder +
                                                              "/libpelix_windows.so\n");
        ASSERT_NE(bridge.libraryApi, nullptr);
        EXPECT_NE(bridge.libraryApi->DrawLableQrCodeWithImage, nullptr);

        bridge.callDrawApi(request("InitDrawingBoard", R"({"width":50,"height":30})"));
        bridge.callDrawApi(request("DrawLableText", R"({"x":2,"y":2,"width":40,"height":8,"value":"A","fontSize":12})"));
        const Json::Value reply = parse(bridge.callDrawApi(request("generateImagePreviewImage")));
        ASSERT_EQ(reply["resultAck"]["result"].asInt(), 0) << reply;
        // The preview is a PNG of the board's size at the default display scale.
        const Json::Value info = parse(reply["resultAck"]["info"].asString());
        const std::vector<unsigned char> png = base64Decode(info["ImageData"].asString());
        ASSERT_GE(png.size(), 24u);
        const auto be32 = [&](size_t at) {
            return (uint32_t{png[at]} << 24) | (uint32_t{png[at + 1]} << 16) | (uint32_t{png[at + 2]} << 8) | png[at + 3];
        };
        EXPECT_EQ(be32(16), 400u);
        EXPECT_EQ(be32(20), 240u);
    }
}

}  // namespace
