// The drawing bridge's dispatch by substring, its value readers, the refusal without a library
// table, and what becomes of a request that makes a handler fail.
#include <gtest/gtest.h>

#include <ostream>

#include "kvPrinter/kvPrinterService.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/logCapture.h"
#include "tests/unit/drawTestSupport.h"

namespace {

using drawtest::answer;
using drawtest::DrawBridgeTest;
using drawtest::parse;
using drawtest::request;

// ---- dispatch ------------------------------------------------------------------------------

struct DispatchCase {
    const char* request;
    const char* answeredAs;  // empty: the bridge leaves the request to the service
    const char* exportCalled;
};
void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.request; }

class DrawDispatch : public DrawBridgeTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DrawDispatch, SubstringsInTheTablesOrderChooseTheHandler) {
    const DispatchCase& c = GetParam();
    const std::string text = bridge.callDrawApi(c.request);
    if (c.answeredAs[0] == '\0') {
        EXPECT_EQ(text, "") << c.request;
        EXPECT_TRUE(fake.calls.empty()) << c.request;
        return;
    }
    EXPECT_EQ(parse(text)["apiName"].asString(), c.answeredAs) << c.request << " -> " << text;
    EXPECT_EQ(parse(text)["resultAck"]["errorCode"].asInt(), 0) << text;
    if (c.exportCalled[0] != '\0') {
        ASSERT_FALSE(fake.calls.empty()) << c.request;
        EXPECT_EQ(fake.calls.back().name, c.exportCalled) << c.request;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, DrawDispatch,
    ::testing::Values(
        DispatchCase{R"({"apiName":"InitDrawingBoard"})", "InitDrawingBoard", "InitDrawingBoard"},
        DispatchCase{R"({"apiName":"DrawLableText"})", "DrawLableText", "DrawLableText"},
        DispatchCase{R"({"apiName":"DrawLableBarCode"})", "DrawLableBarCode", "DrawLableBarCode"},
        DispatchCase{R"({"apiName":"DrawLableQrCodeWithImage"})", "DrawLableQrCodeWithImage",
                     "DrawLableQrCodeWithImage"},
        DispatchCase{R"({"apiName":"DrawLableQrCode"})", "DrawLableQrCode", "DrawLableQrCode"},
        DispatchCase{R"({"apiName":"DrawLableLine"})", "DrawLableLine", "DrawLableLine"},
        DispatchCase{R"({"apiName":"DrawLableGraph"})", "DrawLableGraph", "DrawLableGraph"},
        DispatchCase{R"({"apiName":"DrawLableImage"})", "DrawLableImage", "DrawLableImage"},
        DispatchCase{R"({"apiName":"setFont"})", "setFont", "initFontsFilePath"},
        DispatchCase{R"({"apiName":"setLineBreakMode"})", "setLineBreakMode", ""},
        // Longer names reach the handler of the text they hold and are answered under its name.
        DispatchCase{R"({"apiName":"xsetFontx"})", "setFont", "initFontsFilePath"},
        DispatchCase{R"({"apiName":"myDrawLableTextNow"})", "DrawLableText", "DrawLableText"},
        DispatchCase{R"({"apiName":"DrawLableTextInitDrawingBoard"})", "InitDrawingBoard", "InitDrawingBoard"},
        // Case-sensitive, and names of the service are not the bridge's.
        DispatchCase{R"({"apiName":"mySetFontNow"})", "", ""},
        DispatchCase{R"({"apiName":"drawlabletext"})", "", ""},
        DispatchCase{R"({"apiName":"getPrinterSn"})", "", ""},
        DispatchCase{R"({"apiName":"initSdk"})", "", ""},
        // No name, a name that is not a text, text that is not strict JSON.
        DispatchCase{R"({})", "", ""}, DispatchCase{R"({"parameter":{"x":1}})", "", ""},
        DispatchCase{R"({"apiName":null})", "", ""}, DispatchCase{R"({"apiName":12})", "", ""},
        DispatchCase{R"({"apiName":true})", "", ""},
        DispatchCase{R"(/* c */ {"apiName":"DrawLableText"})", "", ""},
        DispatchCase{R"({"apiName":"DrawLableText",})", "", ""}, DispatchCase{R"(DrawLableText)", "", ""},
        DispatchCase{R"("DrawLableText")", "", ""}, DispatchCase{"", "", ""}));

TEST_F(DrawBridgeTest, ThePreviewIsReachedByItsName) {
    fake.imageBytes = "abc";
    EXPECT_EQ(parse(draw("generateImagePreviewImage"))["apiName"].asString(), "generateImagePreviewImage");
    EXPECT_EQ(fake.callCount("generateDataFromPrintJson"), 1);
}

TEST_F(DrawBridgeTest, TheQrCodeWithLogoNeverReachesThePlainQrCode) {
    EXPECT_EQ(draw("DrawLableQrCodeWithImage"),
              answer("DrawLableQrCodeWithImage", 0, "DrawLableQrCodeWithImage success!", 0));
    EXPECT_EQ(fake.callNames(), std::vector<std::string>{"DrawLableQrCodeWithImage"});
}

// Reading the name or a key of these throws; the service catches it (see below).
TEST_F(DrawBridgeTest, RootsAndNamesThatCannotBeReadThrowOutOfTheDispatch) {
    EXPECT_THROW(bridge.callDrawApi(R"([{"apiName":"DrawLableText"}])"), std::exception);
    EXPECT_THROW(bridge.callDrawApi(R"({"apiName":["DrawLableText"]})"), std::exception);
    EXPECT_THROW(bridge.callDrawApi(R"({"apiName":{"a":"DrawLableText"}})"), std::exception);
    for (const char* parameter : {"5", "\"text\"", "[1,2]", "true"}) {
        EXPECT_THROW(draw("DrawLableText", parameter), std::exception) << parameter;
        EXPECT_THROW(draw("InitDrawingBoard", parameter), std::exception) << parameter;
        EXPECT_THROW(draw("DrawLableLine", parameter), std::exception) << parameter;
    }
    EXPECT_EQ(fake.callCount("DrawLableText"), 0);
    EXPECT_EQ(fake.callCount("InitDrawingBoard"), 0);
}

TEST_F(DrawBridgeTest, AParameterOfNullIsLikeNone) {
    EXPECT_EQ(draw("DrawLableText", "null"), answer("DrawLableText", 0, "DrawLableText success!", 0));
    EXPECT_EQ(args("DrawLableText")[0].asDouble(), 0.0);
}

// ---- through the service -------------------------------------------------------------------

class DrawThroughService : public ::testing::Test {
protected:
    void SetUp() override { service.thirdApi->libraryApi = FakeThirdLibrary::makeTable(); }
    void TearDown() override { FakeThirdLibrary::instance().reset(); }

    cKvPrinterService service{&FakePrinterSdk::load};
};

TEST_F(DrawThroughService, AHandlerThatFailsIsLoggedAndTheServiceAnswersNoSuchInterface) {
    LogCapture log;
    const std::optional<std::string> text =
        service.answerRequest(R"({"apiName":"myDrawLableText","parameter":[1]})");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, answer("myDrawLableText", -1, "no this interface", -3));
    bool logged = false;
    for (const std::string& m : log.messages()) logged |= m.rfind("[ERROR]:Image Gallery interface crash! :", 0) == 0;
    EXPECT_TRUE(logged);
    EXPECT_EQ(FakeThirdLibrary::instance().callCount("DrawLableText"), 0);
}

TEST_F(DrawThroughService, DrawingAnswersDoNotChangeTheServicesCurrentName) {
    ASSERT_TRUE(service.answerRequest(R"({"apiName":"getPrintQuality"})"));
    const std::optional<std::string> text = service.answerRequest(R"({"apiName":"xDrawLableLinex"})");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, answer("DrawLableLine", 0, "draw line success!", 0));
    EXPECT_EQ(service.getCurrentApiName(), "getPrintQuality");
}

// The bridge is handed the request as the service's strict reader parsed it. What that reader
// takes beyond plain JSON reaches the handler with the values that a lenient reading gives.
TEST_F(DrawThroughService, RequestsTheStrictReaderTakesReachTheHandlerWithTheirValues) {
    const char* const texts[] = {
        R"({/* c */"apiName":"DrawLableText","parameter":{"x":1.5}})",
        "{\"apiName\":\"DrawLableText\", // c\n\"parameter\":{\"x\":1.5}}",
        R"({"apiName":"DrawLableText","parameter":{"x":1.5 /* c */}})",
        R"({"apiName":"DrawLableText","parameter":{"x":1.5}} and after the root)",
        R"({"apiName":"getPrintQuality","apiName":"DrawLableText","parameter":{"x":0,"x":1.5}})",
    };
    for (const char* text : texts) {
        EXPECT_EQ(service.answerRequest(text), answer("DrawLableText", 0, "DrawLableText success!", 0)) << text;
        EXPECT_EQ(FakeThirdLibrary::instance().lastArgs("DrawLableText")[0].asDouble(), 1.5) << text;
    }
    EXPECT_EQ(FakeThirdLibrary::instance().callCount("DrawLableText"), 5);
}

TEST_F(DrawThroughService, TextThatIsNotJsonIsNotAnswered) {
    LogCapture log;
    // Nested beyond the JSON library's limit: it throws, which is not the bridge crashing.
    const std::string deep =
        R"({"apiName":"DrawLableText","parameter":)" + std::string(3000, '[') + std::string(3000, ']') + "}";
    EXPECT_EQ(service.thirdApi->callDrawApi(deep), "");
    EXPECT_FALSE(service.answerRequest(deep));
    for (const std::string& m : log.messages()) EXPECT_EQ(m.find("Image Gallery interface crash!"), std::string::npos) << m;
    EXPECT_FALSE(service.answerRequest("DrawLableText"));
    EXPECT_FALSE(service.answerRequest(R"({"apiName":"DrawLableText","parameter":{"fontStyle":[true,/* c */false]}})"));
    EXPECT_FALSE(service.answerRequest(R"(// x
{"apiName":"DrawLableText"})"));
    EXPECT_TRUE(FakeThirdLibrary::instance().calls.empty());
}

// ---- refusal without a library table --------------------------------------------------------

TEST(DrawWithoutLibraries, EveryHandlerButSetFontRefusesUnderItsOwnName) {
    FakeThirdLibrary::instance().reset();
    kvPrinterSdkThirdApi bridge;
    for (const char* name : {"InitDrawingBoard", "DrawLableText", "DrawLableBarCode", "DrawLableQrCodeWithImage",
                             "DrawLableQrCode", "DrawLableLine", "DrawLableGraph", "DrawLableImage",
                             "generateImagePreviewImage", "setLineBreakMode"}) {
        EXPECT_EQ(bridge.callDrawApi(request(std::string("my") + name, R"({"x":1})")),
                  answer(name, -1, "please init sdk first!", -1));
    }
    EXPECT_EQ(bridge.GenerateLableJson(), answer("GenerateLableJson", -1, "please init sdk first!", -1));
    EXPECT_EQ(bridge.lineBreakMode, 1);
}

TEST(DrawWithoutLibraries, SetFontStillStoresItsFontsButReportsThatNothingWasRegistered) {
    kvPrinterSdkThirdApi bridge;
    EXPECT_EQ(bridge.callDrawApi(request("setFont", R"({"fontLibrary":"a.ttf","fontFamily":"Sans"})")),
              answer("setFont", -1, "font path not exist!", -1));
    EXPECT_TRUE(bridge.useCustomFont);
    EXPECT_EQ(bridge.fontLibrary, "a.ttf");
    EXPECT_EQ(bridge.fontFamily, "Sans");
    EXPECT_FALSE(bridge.initFonts("/fonts", nullptr));
}

TEST(DrawWithoutLibraries, NothingIsRenderedAndNoPictureBecomesALabel) {
    kvPrinterSdkThirdApi bridge;
    const float margin[4] = {};
    const int colour[4] = {255, 0, 0, 0};
    EXPECT_EQ(bridge.generateDataFromPrintJson("{}", 1, 8, 8, margin, nullptr, 0, colour), nullptr);
    int width = 0, height = 0;
    EXPECT_EQ(bridge.imageToLabel("R0lGODlhEAAQAAAAACw=", 8, width, height), nullptr);
    bridge.releaseImage(nullptr);
}

TEST(DrawWithoutLibraries, TheBoardLeavesTheJobInformationAlone) {
    kvPrinterSdkThirdApi bridge;
    printImageInfoJson = Json::Value("before");
    bridge.lineBreakMode = 3;
    bridge.callDrawApi(request("InitDrawingBoard", R"({"width":50})"));
    EXPECT_EQ(printImageInfoJson, Json::Value("before"));
    EXPECT_EQ(bridge.lineBreakMode, 3);
    printImageInfoJson = Json::Value();
}

// ---- answers and readers -------------------------------------------------------------------

TEST(DrawAnswers, AreTheServicesEnvelopeAndAreLogged) {
    LogCapture log;
    const std::string text = kvPrinterSdkThirdApi::makeResult("DrawLableText", -1, "a\"b", 7);
    EXPECT_EQ(text, "{\"apiName\":\"DrawLableText\",\"resultAck\":{\"errorCode\":7,\"info\":\"a\\\"b\",\"result\":-1}}\n");
    EXPECT_EQ(text, cKvPrinterService::makeResult("DrawLableText", -1, "a\"b", 7));
    EXPECT_TRUE(log.contains("[INFO]:make result: " + text));
}

struct ReaderCase {
    const char* json;  // the value of the key "v"
    double asDouble;   // what getJsonDouble leaves, starting from 7.5
    bool doubleRead;
    int asInt;         // what getJsonInt leaves, starting from 7
    bool intRead;
    const char* asString;  // what getJsonString leaves, starting from "start"
    bool stringRead;
};
void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.json; }

class ValueReaders : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ValueReaders, GiveTheValueTheWrongTypeMarkOrLeaveTheStart) {
    const ReaderCase& c = GetParam();
    const Json::Value value = parse(std::string("{\"v\":") + c.json + "}")["v"];
    double d = 7.5;
    int i = 7;
    std::string s = "start";
    EXPECT_EQ(kvPrinterSdkThirdApi::getJsonDouble(value, d), c.doubleRead) << c.json;
    EXPECT_EQ(kvPrinterSdkThirdApi::getJsonInt(value, i), c.intRead) << c.json;
    EXPECT_EQ(kvPrinterSdkThirdApi::getJsonString(value, s), c.stringRead) << c.json;
    EXPECT_EQ(d, c.asDouble) << c.json;
    EXPECT_EQ(i, c.asInt) << c.json;
    EXPECT_EQ(s, c.asString) << c.json;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValueReaders,
    ::testing::Values(ReaderCase{"null", 7.5, false, 7, false, "start", false},
                      ReaderCase{"90", 90.0, true, 90, true, "\xFE", false},
                      ReaderCase{"90.0", 90.0, true, 90, true, "\xFE", false},
                      ReaderCase{"90.5", 90.5, true, -2, false, "\xFE", false},
                      ReaderCase{"-2147483648", -2147483648.0, true, -2147483647 - 1, true, "\xFE", false},
                      ReaderCase{"2147483648", 2147483648.0, true, -2, false, "\xFE", false},
                      ReaderCase{"18446744073709551615", 18446744073709551615.0, true, -2, false, "\xFE", false},
                      ReaderCase{"\"90\"", -2.0, false, -2, false, "90", true},
                      ReaderCase{"\"\"", -2.0, false, -2, false, "", true},
                      ReaderCase{"true", -2.0, false, -2, false, "\xFE", false},
                      ReaderCase{"[1]", -2.0, false, -2, false, "\xFE", false},
                      ReaderCase{"{}", -2.0, false, -2, false, "\xFE", false}));

TEST(ValueReaderKeys, AnAbsentKeyOrParameterIsNullAndKeepsTheStart) {
    const Json::Value root = parse(R"({"parameter":{}})");
    double d = 1.5;
    EXPECT_FALSE(kvPrinterSdkThirdApi::getJsonDouble(root["parameter"]["x"], d));
    EXPECT_EQ(d, 1.5);
    EXPECT_FALSE(kvPrinterSdkThirdApi::getJsonDouble(root["nothing"]["x"], d));
    EXPECT_EQ(d, 1.5);
}

}  // namespace
