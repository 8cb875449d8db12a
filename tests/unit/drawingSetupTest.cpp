// "initSdk" and "initImageProcessing": drawing mode, the printer's scale handed to the bridge,
// and the fonts folders registered with the renderer, through the fake SDK and library table.
#include <gtest/gtest.h>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvImageGallery/libraryFolders.h"
#include "kvPrinter/kvPrinterService.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/logCapture.h"
#include "tests/unit/drawTestSupport.h"

namespace {

using drawtest::answer;
using drawtest::parse;

class DrawingSetup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(service.thirdApi, nullptr);
        service.thirdApi->libraryApi = FakeThirdLibrary::makeTable();
    }
    void TearDown() override { library.reset(); }

    std::string ask(const std::string& text) {
        const std::optional<std::string> reply = service.answerRequest(text);
        EXPECT_TRUE(reply) << text;
        return reply.value_or("");
    }
    // The folders registered with the renderer, in order (null as a JSON null).
    Json::Value folders() const {
        Json::Value list(Json::arrayValue);
        for (const FakeLibraryCall& c : library.calls) {
            if (c.name == "initFontsFilePath") list.append(c.args[0]);
        }
        return list;
    }
    Json::Value list(std::initializer_list<Json::Value> values) const {
        Json::Value out(Json::arrayValue);
        for (const Json::Value& v : values) out.append(v);
        return out;
    }

    FakePrinterSdk& sdk = FakePrinterSdk::instance();
    cKvPrinterService service{&FakePrinterSdk::load};
    FakeThirdLibrary& library = FakeThirdLibrary::instance();
};

// The renderer is not loaded in this program, so there is no default folder beside it.
TEST_F(DrawingSetup, InitSdkWithoutAFolderRegistersTheProgramsFolderAndTakesThePrintersScale) {
    LogCapture log;
    sdk.setResult("getMultiple", SdkMultipleResult{11.81, 0});
    ASSERT_EQ(rendererFontFolder(), "");
    EXPECT_EQ(ask(R"({"apiName":"initSdk"})"), answer("initSdk", 0, "initSdkApi ok!", 0));
    EXPECT_TRUE(service.sdkInited);
    EXPECT_EQ(service.thirdApi->scaleValue, 11.81f);
    EXPECT_EQ(folders(), list({programFontFolder(), Json::Value()}));
    EXPECT_EQ(sdk.callCount("getMultiple"), 1);
    EXPECT_EQ(sdk.callCount("initSdk"), 1);  // only the constructor's
    bool logged = false;
    for (const std::string& m : log.messages()) logged |= m == "[INFO]:font path:";
    EXPECT_TRUE(logged);
}

TEST_F(DrawingSetup, InitSdkRegistersTheDecodedFolderOnceAndLogsNoDefault) {
    LogCapture log;
    EXPECT_EQ(ask(R"({"apiName":"initSdk","parameter":{"fontDir":"D%3A%5Cfonts"}})"),
              answer("initSdk", 0, "initSdkApi ok!", 0));
    EXPECT_EQ(folders(), list({"D:\\fonts"}));
    bool logged = false;
    for (const std::string& m : log.messages()) logged |= m == "[INFO]:font path:";
    EXPECT_TRUE(logged);
}

TEST_F(DrawingSetup, InitSdkTakesNumbersAndBooleansAsTheirText) {
    ask(R"({"apiName":"initSdk","parameter":{"fontDir":12}})");
    EXPECT_EQ(folders(), list({"12"}));
    library.calls.clear();
    ask(R"({"apiName":"initSdk","parameter":{"fontDir":true}})");
    EXPECT_EQ(folders(), list({"true"}));
}

TEST_F(DrawingSetup, InitSdkWithoutAPrinterStillAnswersOkWithTheReportedScale) {
    sdk.setResult("getMultiple", SdkMultipleResult{0.0, -4});
    EXPECT_EQ(ask(R"({"apiName":"initSdk"})"), answer("initSdk", 0, "initSdkApi ok!", 0));
    EXPECT_EQ(service.thirdApi->scaleValue, 0.0f);
}

TEST_F(DrawingSetup, AFolderThatCannotBeTextIsAnUnusableRequest) {
    for (const char* text : {R"({"apiName":"initSdk","parameter":{"fontDir":["a"]}})",
                             R"({"apiName":"initSdk","parameter":5})",
                             R"({"apiName":"initImageProcessing","parameter":{"fontFamilyPath":{}}})"}) {
        EXPECT_EQ(parse(ask(text))["resultAck"]["errorCode"].asInt(), 26) << text;
    }
    EXPECT_TRUE(folders().empty());
}

TEST_F(DrawingSetup, InitImageProcessingTurnsDrawingModeOffAndLeavesTheScale) {
    sdk.setResult("getMultiple", SdkMultipleResult{11.81, 0});
    ask(R"({"apiName":"initSdk"})");
    ASSERT_TRUE(service.sdkInited);
    sdk.clearCalls();
    library.calls.clear();
    EXPECT_EQ(ask(R"({"apiName":"initImageProcessing","parameter":{"fontFamilyPath":"%2Ffonts%20a"}})"),
              answer("initImageProcessing", 0, "initImageProcessing ok!", 0));
    EXPECT_FALSE(service.sdkInited);
    EXPECT_EQ(service.thirdApi->scaleValue, 11.81f);
    EXPECT_TRUE(sdk.calls().empty());
    EXPECT_EQ(folders(), list({programFontFolder(), "/fonts a"}));
}

TEST_F(DrawingSetup, InitImageProcessingsDefaultFolderOnlyTellsWhetherToRegisterTheProgramsFolder) {
    ask(R"({"apiName":"initImageProcessing","parameter":{"defaultFamilyPath":"%2Fdefault"}})");
    EXPECT_EQ(folders(), list({Json::Value()}));
    library.calls.clear();
    ask(R"({"apiName":"initImageProcessing","parameter":{"fontFamilyPath":"/a","defaultFamilyPath":"/b"}})");
    EXPECT_EQ(folders(), list({"/a"}));
    library.calls.clear();
    ask(R"({"apiName":"initImageProcessing"})");
    EXPECT_EQ(folders(), list({programFontFolder(), Json::Value()}));
    library.calls.clear();
    // Empty after decoding counts as not given.
    ask(R"({"apiName":"initImageProcessing","parameter":{"fontFamilyPath":"/a","defaultFamilyPath":"%00"}})");
    EXPECT_EQ(folders(), list({programFontFolder(), "/a"}));
}

TEST_F(DrawingSetup, AnswersCarryTheNameAsRequestedAndDrawingModeFollowsTheLastRequest) {
    ask(R"({"apiName":"initImageProcessing"})");
    EXPECT_FALSE(service.sdkInited);
    ask(R"({"apiName":"initSdk"})");
    ask(R"({"apiName":"initSdk"})");
    EXPECT_TRUE(service.sdkInited);
    ask(R"({"apiName":"initImageProcessing"})");
    EXPECT_FALSE(service.sdkInited);
}

// The bridge exists, but its libraries did not load.
TEST_F(DrawingSetup, WithoutTheRenderingLibrariesNoFolderCanBeRegistered) {
    service.thirdApi->libraryApi.reset();
    EXPECT_EQ(ask(R"({"apiName":"initSdk"})"), answer("initSdk", -1, "font path not exist", -1));
    EXPECT_TRUE(service.sdkInited);
    EXPECT_EQ(ask(R"({"apiName":"initImageProcessing"})"),
              answer("initImageProcessing", -1, "font path not exist", -1));
    EXPECT_FALSE(service.sdkInited);
}

}  // namespace
