// The drawing board and its job information, the font and line-break settings, and every
// element's keys and argument order as they reach the canvas library.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>

#include "kvImageGallery/libraryFolders.h"
#include "tests/support/logCapture.h"
#include "tests/unit/drawTestSupport.h"

namespace {

using drawtest::answer;
using drawtest::DrawBridgeTest;
using drawtest::parse;

double f(double value) { return static_cast<float>(value); }

// ---- drawing board -------------------------------------------------------------------------

TEST_F(DrawBridgeTest, TheBoardGetsItsSizeRotationAndFontAndRecordsTheJobInformation) {
    LogCapture log;
    EXPECT_EQ(draw("InitDrawingBoard",
                   R"({"path":"/f/board.ttf","width":50,"height":30,"rotate":90,"verticalShift":2,"HorizontalShift":3})"),
              answer("InitDrawingBoard", 0, "init draw board success!", 0));
    EXPECT_EQ(args("InitDrawingBoard"), parse(R"([50.0, 30.0, 90, ["/f/board.ttf"], 1])"));
    EXPECT_EQ(printImageInfoJson, parse(R"({"printerImageProcessingInfo":{"width":50.0,"height":30.0,
        "orientation":90,"margin":[0,0,0,0],"printQuantity":1,"horizontalOffset":3,"verticalOffset":2,"epc":""}})"));
    // Real numbers stay real, and unnarrowed.
    draw("InitDrawingBoard", R"({"width":50.1})");
    EXPECT_TRUE(printImageInfoJson["printerImageProcessingInfo"]["width"].isDouble());
    EXPECT_EQ(printImageInfoJson["printerImageProcessingInfo"]["width"].asDouble(), 50.1);
    EXPECT_EQ(args("InitDrawingBoard")[0].asDouble(), f(50.1));
    EXPECT_TRUE(log.contains("[INFO]:InitDrawingBoard begin"));
    EXPECT_TRUE(log.contains("[INFO]:InitDrawingBoard end"));
}

TEST_F(DrawBridgeTest, TheBoardsKeysAreSpelledExactly) {
    draw("InitDrawingBoard", R"({"horizontalShift":3,"VerticalShift":2,"Width":5})");
    EXPECT_EQ(printImageInfoJson["printerImageProcessingInfo"]["horizontalOffset"], 0);
    EXPECT_EQ(printImageInfoJson["printerImageProcessingInfo"]["verticalOffset"], 0);
    EXPECT_EQ(args("InitDrawingBoard")[0].asDouble(), 0.0);
}

TEST_F(DrawBridgeTest, ABoardWithoutParameterIsZeroByZeroWithAnEmptyFontFile) {
    draw("InitDrawingBoard");
    EXPECT_EQ(args("InitDrawingBoard"), parse(R"([0.0, 0.0, 0, [""], 1])"));
    EXPECT_EQ(printImageInfoJson, parse(R"({"printerImageProcessingInfo":{"width":0.0,"height":0.0,
        "orientation":0,"margin":[0,0,0,0],"printQuantity":1,"horizontalOffset":0,"verticalOffset":0,"epc":""}})"));
}

TEST_F(DrawBridgeTest, WrongTypesAreDrawnAndRecordedWithTheReadersValues) {
    draw("InitDrawingBoard", R"({"path":5,"width":"50","rotate":90.5,"HorizontalShift":"3"})");
    EXPECT_EQ(args("InitDrawingBoard")[3][0].asString(), "\xFE");
    EXPECT_EQ(args("InitDrawingBoard")[0].asDouble(), -2.0);
    EXPECT_EQ(args("InitDrawingBoard")[2].asInt(), -2);
    EXPECT_EQ(printImageInfoJson["printerImageProcessingInfo"]["width"].asDouble(), -2.0);
    EXPECT_EQ(printImageInfoJson["printerImageProcessingInfo"]["orientation"], -2);
    EXPECT_EQ(printImageInfoJson["printerImageProcessingInfo"]["horizontalOffset"], -2);
}

TEST_F(DrawBridgeTest, TheSecondBoardReplacesTheJobInformation) {
    draw("InitDrawingBoard", R"({"width":50,"height":30,"rotate":90,"verticalShift":2})");
    draw("InitDrawingBoard", R"({"width":40,"height":20})");
    EXPECT_EQ(printImageInfoJson, parse(R"({"printerImageProcessingInfo":{"width":40.0,"height":20.0,
        "orientation":0,"margin":[0,0,0,0],"printQuantity":1,"horizontalOffset":0,"verticalOffset":0,"epc":""}})"));
}

TEST_F(DrawBridgeTest, AfterSetFontTheBoardTakesItsFontFileEvenWhenEmpty) {
    draw("setFont", R"({"fontLibrary":"D:\\f\\a.ttf"})");
    draw("InitDrawingBoard", R"({"path":"/other.ttf"})");
    EXPECT_EQ(args("InitDrawingBoard")[3], parse(R"(["D:\\f\\a.ttf"])"));
    draw("setFont", "{}");
    draw("InitDrawingBoard", R"({"path":"/other.ttf"})");
    EXPECT_EQ(args("InitDrawingBoard")[3], parse(R"([""])"));
}

// ---- line-break mode -----------------------------------------------------------------------

struct LineBreakCase {
    const char* steps;  // B board, L<n> setLineBreakMode with that "lineBreakMode" JSON, T text
    int expected;       // argument 15 of the last text
};
void PrintTo(const LineBreakCase& c, std::ostream* os) { *os << c.steps; }

class LineBreakMode : public DrawBridgeTest, public ::testing::WithParamInterface<LineBreakCase> {};

TEST_P(LineBreakMode, IsSetBackToOneByEveryBoard) {
    const std::string steps = GetParam().steps;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] == 'B') {
            draw("InitDrawingBoard");
        } else if (steps[i] == 'T') {
            draw("DrawLableText");
        } else if (steps[i] == 'L') {
            const size_t end = steps.find_first_of("BTL", i + 1);
            const std::string value = steps.substr(i + 1, end - i - 1);
            EXPECT_EQ(draw("setLineBreakMode", value.empty() ? "{}" : "{\"lineBreakMode\":" + value + "}"),
                      answer("setLineBreakMode", 0, "setLineBreakMode success!", 0));
            i = end == std::string::npos ? steps.size() : end - 1;
        }
    }
    EXPECT_EQ(args("DrawLableText")[14].asInt(), GetParam().expected) << steps;
}

INSTANTIATE_TEST_SUITE_P(Sequences, LineBreakMode,
                         ::testing::Values(LineBreakCase{"T", 1}, LineBreakCase{"L2T", 2}, LineBreakCase{"L2BT", 1},
                                           LineBreakCase{"L0BT", 1}, LineBreakCase{"BL0T", 0},
                                           LineBreakCase{"BL2.5T", -2}, LineBreakCase{"BL\"2\"T", -2},
                                           LineBreakCase{"BL3LT", 0}, LineBreakCase{"BL3TBT", 1}));

// ---- fonts ---------------------------------------------------------------------------------

TEST_F(DrawBridgeTest, SetFontWithAFolderRegistersOnlyItDecoded) {
    LogCapture log;
    EXPECT_EQ(draw("setFont", R"({"fontPath":"D%3A%5Cfonts","fontLibrary":"a%20b.ttf","fontFamily":"My%20Sans"})"),
              answer("setFont", 0, "set font ok!", 0));
    ASSERT_EQ(fake.callNames(), std::vector<std::string>{"initFontsFilePath"});
    EXPECT_EQ(args("initFontsFilePath"), parse(R"(["D:\\fonts"])"));
    // The font file and family are kept as given.
    EXPECT_TRUE(bridge.useCustomFont);
    EXPECT_EQ(bridge.fontLibrary, "a%20b.ttf");
    EXPECT_EQ(bridge.fontFamily, "My%20Sans");
    EXPECT_TRUE(log.contains("[INFO]:setFont begin"));
}

// The renderer is not loaded in this test program: the default folder is empty, and so the
// program's folder is registered before the null folder.
TEST_F(DrawBridgeTest, SetFontWithoutAFolderAndWithoutTheRendererRegistersTheProgramsFolder) {
    ASSERT_EQ(rendererFontFolder(), "");
    EXPECT_EQ(draw("setFont", "{}"), answer("setFont", 0, "set font ok!", 0));
    ASSERT_EQ(fake.callCount("initFontsFilePath"), 2);
    EXPECT_EQ(fake.calls[0].args[0].asString(), programFontFolder());
    EXPECT_TRUE(fake.calls[1].args[0].isNull());
    EXPECT_TRUE(bridge.useCustomFont);
    EXPECT_EQ(bridge.fontLibrary, "");
    EXPECT_EQ(bridge.fontFamily, "");
}

TEST_F(DrawBridgeTest, InitFontsRegistersTheProgramsFolderFirstOnlyWithoutACustomFolder) {
    ASSERT_FALSE(programFontFolder().empty());
    EXPECT_EQ(programFontFolder().substr(programFontFolder().size() - 5), "/font");

    EXPECT_TRUE(bridge.initFonts("/fonts", nullptr));
    EXPECT_EQ(fake.calls.size(), 2u);
    EXPECT_EQ(fake.calls[0].args, parse("[\"" + programFontFolder() + "\"]"));
    EXPECT_EQ(fake.calls[1].args, parse(R"(["/fonts"])"));

    fake.calls.clear();
    EXPECT_TRUE(bridge.initFonts(nullptr, nullptr));
    ASSERT_EQ(fake.calls.size(), 2u);
    EXPECT_TRUE(fake.calls[1].args[0].isNull());

    // Only whether the custom folder is given matters, not its text.
    fake.calls.clear();
    EXPECT_TRUE(bridge.initFonts(nullptr, "/custom"));
    ASSERT_EQ(fake.calls.size(), 1u);
    EXPECT_TRUE(fake.calls[0].args[0].isNull());
}

// ---- elements: keys, defaults and argument order ------------------------------------------

struct ElementCase {
    const char* apiName;
    const char* parameter;
    const char* args;  // what the export received, as JSON; "<FE>" for the one-byte text 0xFE
};
void PrintTo(const ElementCase& c, std::ostream* os) { *os << c.apiName << " " << c.parameter; }

// JSON cannot spell the single byte 0xFE, the string reader's wrong-type value.
Json::Value markWrongTypeTexts(Json::Value args) {
    for (Json::Value& arg : args) {
        if (arg.isString() && arg.asString() == "\xFE") arg = "<FE>";
    }
    return args;
}

class ElementArguments : public DrawBridgeTest, public ::testing::WithParamInterface<ElementCase> {};

TEST_P(ElementArguments, ReachTheExportInItsOrder) {
    const ElementCase& c = GetParam();
    const Json::Value reply = parse(draw(c.apiName, c.parameter));
    EXPECT_EQ(reply["resultAck"]["errorCode"].asInt(), 0);
    EXPECT_EQ(markWrongTypeTexts(args(c.apiName)), parse(c.args)) << c.apiName << " " << c.parameter;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ElementArguments,
    ::testing::Values(
        // Text: the two alignments stand before "lineMode".
        ElementCase{"DrawLableText", R"({"value":"Hello"})",
                    R"([0.0,0.0,0.0,0.0,"Hello","",0.0,0,0,0,0,0.0,0.0,[false,false,false,false],1])"},
        ElementCase{"DrawLableText",
                    R"({"x":1,"y":2,"width":3,"height":4,"value":"中文","fontFamily":"DejaVu Sans","fontSize":5,
                        "rotate":90,"lineMode":3,"textAlignHorizonral":1,"textAlignVertical":2,"letterSpacing":0.5,
                        "lineSpacing":0.25,"fontStyle":[true,false,true,false]})",
                    R"([1.0,2.0,3.0,4.0,"中文","DejaVu Sans",5.0,90,1,2,3,0.5,0.25,[true,false,true,false],1])"},
        ElementCase{"DrawLableText", R"({"rotate":90.0,"fontSize":"12","value":3,"x":null,"lineMode":1.5})",
                    R"([0.0,0.0,0.0,0.0,"<FE>","",-2.0,90,0,0,-2,0.0,0.0,[false,false,false,false],1])"},
        ElementCase{"DrawLableText", R"({"rotate":90.5})",
                    R"([0.0,0.0,0.0,0.0,"","",0.0,-2,0,0,0,0.0,0.0,[false,false,false,false],1])"},
        // Barcode: "codeType" before "value"; both QR codes the other way round.
        ElementCase{"DrawLableBarCode",
                    R"({"x":1,"y":2,"width":3,"height":4,"codeType":20,"value":"ABC","fontSize":9,"rotate":180,
                        "textHeight":2.5,"textPosition":1})",
                    R"([1.0,2.0,3.0,4.0,20,"ABC",9.0,180,2.5,1])"},
        ElementCase{"DrawLableQrCode",
                    R"({"x":1,"y":2,"width":3,"height":4,"codeType":20,"value":"ABC","rotate":90,"correctLevel":4,
                        "logoBase64":"AAAA","logoScale":0.5})",
                    R"([1.0,2.0,3.0,4.0,"ABC",20,90])"},
        ElementCase{"DrawLableQrCodeWithImage",
                    R"({"x":1,"y":2,"width":3,"height":4,"codeType":58,"value":"ABC","rotate":270,"correctLevel":4,
                        "logoBase64":"iVBORw0K","logoPosition":1,"logoScale":0.25})",
                    R"([1.0,2.0,3.0,4.0,"ABC",58,270,4,"iVBORw0K",1,0.25])"},
        ElementCase{"DrawLableQrCodeWithImage", R"({"value":"ABC"})", R"([0.0,0.0,0.0,0.0,"ABC",0,0,0,"",0,0.0])"},
        ElementCase{"DrawLableQrCodeWithImage", R"({"logoScale":"0.2","logoBase64":7,"correctLevel":"H"})",
                    R"([0.0,0.0,0.0,0.0,"",0,0,-2,"<FE>",0,-2.0])"},
        // Line and shape: the shape's type before its rotation.
        ElementCase{"DrawLableLine",
                    R"({"x":1,"y":2,"width":30,"height":0.5,"rotate":90,"lineType":1,"dashwidth":[1,0.5]})",
                    R"([1.0,2.0,30.0,0.5,90,1,[1.0,0.5]])"},
        ElementCase{"DrawLableGraph",
                    R"({"x":1,"y":2,"width":3,"height":4,"graphType":2,"rotate":90,"cornerRadius":1.5,
                        "lineWidth":0.5,"lineType":1,"dashwidth":[2,1]})",
                    R"([1.0,2.0,3.0,4.0,2,90,1.5,0.5,1,[2.0,1.0]])"},
        // Image: the picture first, then its box; the mode is always 1.
        ElementCase{"DrawLableImage", R"({"imageData":"data:image/png;base64,iVBO"})",
                    R"(["data:image/png;base64,iVBO",0.0,0.0,0.0,0.0,0,1,0.0])"},
        ElementCase{"DrawLableImage",
                    R"({"imageData":"iVBO","x":1,"y":2,"width":3,"height":4,"rotate":90,"imageProcessingValue":128,
                        "mode":5})",
                    R"(["iVBO",1.0,2.0,3.0,4.0,90,1,128.0])"}));

TEST_F(DrawBridgeTest, NumbersAreNarrowedToFloatOnlyForTheCall) {
    draw("DrawLableText", R"({"x":0.1,"letterSpacing":0.2,"y":1e300,"width":-1e300})");
    const Json::Value a = args("DrawLableText");
    EXPECT_EQ(a[0].asDouble(), f(0.1));
    EXPECT_EQ(a[11].asDouble(), f(0.2));
    // Beyond the float range: the largest float rather than an undefined conversion.
    EXPECT_EQ(a[1].asDouble(), static_cast<double>(FLT_MAX));
    EXPECT_EQ(a[2].asDouble(), -static_cast<double>(FLT_MAX));
}

struct StyleCase {
    const char* fontStyle;
    const char* flags;
};
void PrintTo(const StyleCase& c, std::ostream* os) { *os << c.fontStyle; }

class TextStyle : public DrawBridgeTest, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(TextStyle, FlagsComeOnlyFromAnArrayOfAtLeastFour) {
    draw("DrawLableText", std::string(R"({"fontStyle":)") + GetParam().fontStyle + "}");
    EXPECT_EQ(args("DrawLableText")[13], parse(GetParam().flags)) << GetParam().fontStyle;
}

INSTANTIATE_TEST_SUITE_P(Arrays, TextStyle,
                         ::testing::Values(StyleCase{"[true,true,true]", "[false,false,false,false]"},
                                           StyleCase{"[1,true,false,true]", "[false,true,false,true]"},
                                           StyleCase{"[true,true,true,true,false,false]", "[true,true,true,true]"},
                                           StyleCase{"[false,false,false,true,true,true]", "[false,false,false,true]"},
                                           StyleCase{"[null,\"true\",{},true]", "[false,false,false,true]"},
                                           StyleCase{"true", "[false,false,false,false]"},
                                           StyleCase{"{\"0\":true,\"1\":true,\"2\":true,\"3\":true}",
                                                     "[false,false,false,false]"},
                                           StyleCase{"[]", "[false,false,false,false]"}));

TEST_F(DrawBridgeTest, AfterSetFontTheTextTakesItsFamilyEvenWhenEmpty) {
    draw("DrawLableText", R"({"fontFamily":"Request Sans"})");
    EXPECT_EQ(args("DrawLableText")[5].asString(), "Request Sans");
    draw("setFont", R"({"fontFamily":"Stored Serif"})");
    draw("DrawLableText", R"({"fontFamily":"Request Sans"})");
    EXPECT_EQ(args("DrawLableText")[5].asString(), "Stored Serif");
    draw("setFont", R"({"fontFamily":""})");
    draw("DrawLableText", R"({"fontFamily":"Request Sans"})");
    EXPECT_EQ(args("DrawLableText")[5].asString(), "");
}

TEST_F(DrawBridgeTest, WithoutTheOptionalExportTheQrCodeWithLogoIsRefused) {
    bridge.libraryApi->DrawLableQrCodeWithImage = nullptr;
    EXPECT_EQ(draw("DrawLableQrCodeWithImage", R"({"value":"ABC"})"),
              answer("DrawLableQrCodeWithImage", -1, "DrawLableQrCodeWithImage not support!", -1));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(draw("DrawLableQrCode", R"({"value":"ABC"})"), answer("DrawLableQrCode", 0, "DrawLableQrCode success!", 0));
}

struct DashCase {
    const char* dashwidth;
    float first, second;
};
void PrintTo(const DashCase& c, std::ostream* os) { *os << c.dashwidth; }

class DashPatternKey : public DrawBridgeTest, public ::testing::WithParamInterface<DashCase> {};

TEST_P(DashPatternKey, TheSecondValueStartsFromTheFirst) {
    const DashCase& c = GetParam();
    const std::string parameter = std::string(R"({"lineType":1,"dashwidth":)") + c.dashwidth + "}";
    draw("DrawLableLine", parameter);
    draw("DrawLableGraph", parameter);
    for (const char* name : {"DrawLableLine", "DrawLableGraph"}) {
        const Json::Value a = args(name);
        const Json::Value dash = a[a.size() - 1];
        EXPECT_EQ(dash[0].asDouble(), c.first) << name << " " << c.dashwidth;
        EXPECT_EQ(dash[1].asDouble(), c.second) << name << " " << c.dashwidth;
    }
}

INSTANTIATE_TEST_SUITE_P(Arrays, DashPatternKey,
                         ::testing::Values(DashCase{"[2,1]", 2, 1}, DashCase{"[2]", 2, 2}, DashCase{"[]", 0, 0},
                                           DashCase{"{\"0\":2}", 0, 0}, DashCase{"[1,2,3]", 1, 2},
                                           DashCase{"[null,3]", 0, 3}, DashCase{"[2,\"a\"]", 2, -2},
                                           DashCase{"[\"a\"]", -2, -2}, DashCase{"5", 0, 0},
                                           DashCase{"null", 0, 0}));

TEST_F(DrawBridgeTest, TheLinesRotationIsAnIntegerTheShapesIsTruncated) {
    struct {
        const char* rotate;
        int line, shape;
    } cases[] = {{"90.7", -2, 90}, {"-45.5", -2, -45}, {"180", 180, 180}, {"\"90\"", -2, -2},
                 {"1e12", -2, INT_MAX}, {"-1e12", -2, INT_MIN}, {"-0.9", -2, 0}};
    for (const auto& c : cases) {
        const std::string parameter = std::string(R"({"rotate":)") + c.rotate + "}";
        draw("DrawLableLine", parameter);
        draw("DrawLableGraph", parameter);
        EXPECT_EQ(args("DrawLableLine")[4].asInt(), c.line) << c.rotate;
        EXPECT_EQ(args("DrawLableGraph")[5].asInt(), c.shape) << c.rotate;
    }
}

// ---- answers and log lines -----------------------------------------------------------------

struct HandlerTexts {
    const char* apiName;
    const char* success;
    const char* begin;
    const char* end;
};

TEST_F(DrawBridgeTest, EachElementIsOneCallWithItsAnswerAndLogLines) {
    const HandlerTexts handlers[] = {
        {"DrawLableText", "DrawLableText success!", "DrawLableText begin", "DrawLableText end"},
        {"DrawLableBarCode", "DrawLableBarCode success!", "DrawLableBarCode begin", "DrawLableBarCode end"},
        {"DrawLableQrCode", "DrawLableQrCode success!", "DrawLableQrCode begin", "DrawLableQrCode end"},
        {"DrawLableQrCodeWithImage", "DrawLableQrCodeWithImage success!",
         "kvPrinterSdkThirdApi::DrawLableQrCodeWithImage", "DrawLableQrCodeWithImage end"},
        {"DrawLableLine", "draw line success!", "DrawLableLine begin", "DrawLableLine end"},
        {"DrawLableGraph", "DrawLableGraph success!", "DrawLableGraph begin", "DrawLableGraph end"},
        {"DrawLableImage", "DrawLableImage success!", "DrawLableImage begin", "DrawLableImage end"},
    };
    for (const HandlerTexts& h : handlers) {
        LogCapture log;
        fake.calls.clear();
        EXPECT_EQ(draw(std::string("x") + h.apiName + "x", R"({"x":1})"), answer(h.apiName, 0, h.success, 0));
        EXPECT_EQ(fake.callNames(), std::vector<std::string>{h.apiName});
        // The line logs its begin text once more right before the call.
        EXPECT_EQ(log.count(std::string("[INFO]:") + h.begin), std::string(h.apiName) == "DrawLableLine" ? 2 : 1)
            << h.apiName;
        EXPECT_EQ(log.count(std::string("[INFO]:") + h.end), 1) << h.apiName;
    }
}

}  // namespace
