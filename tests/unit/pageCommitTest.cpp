// The page commit: where the label and the job values come from in each mode, what reaches the
// renderer and the SDK, and every refusal.
#include <gtest/gtest.h>

#include <string>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/kvPrinterService.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/fakeThirdLibrary.h"
#include "tests/support/logCapture.h"

namespace {

// The fake renderer's page: 7 by 5 pixels as packed rows.
constexpr int kPageBytes = 5;

Json::Value parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

class PageCommitTest : public ::testing::Test {
protected:
    void SetUp() override {
        service.thirdApi->libraryApi = FakeThirdLibrary::makeTable();
        third.imageBytes = std::string(kPageBytes, '\x55');
        printImageInfoJson = Json::Value();
    }

    void drawBoard(const std::string& parameter) {
        ASSERT_TRUE(service.answerRequest(R"({"apiName":"InitDrawingBoard","parameter":)" + parameter + "}"));
        third.labelJson = R"({"width":50,"height":30,"elements":[]})";
    }
    std::string commit(const std::string& body) { return *service.answerRequest(R"({"apiName":"commitJob",)" + body + "}"); }
    Json::Value page() { return fake.lastArgs("commitJob")[0]; }
    Json::Value render() { return third.lastArgs("generateDataFromPrintJson"); }

    FakePrinterSdk& fake = FakePrinterSdk::instance();
    FakeThirdLibrary& third = FakeThirdLibrary::instance();
    cKvPrinterService service{&FakePrinterSdk::load};

    void TearDown() override { third.reset(); }
};

const std::string kJobValueError =
    "{\"apiName\":\"commitJob\",\"resultAck\":{\"errorCode\":26,\"info\":\"parameter json error\",\"result\":-1}}\n";
const std::string kSuccess =
    "{\"apiName\":\"commitJob\",\"resultAck\":{\"errorCode\":0,\"info\":\"commitJobApi Success!\",\"result\":0}}\n";

TEST_F(PageCommitTest, DrawnLabelWithNothingDrawnIsRefused) {
    service.sdkInited = true;
    EXPECT_EQ(commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1}})"),
              "{\"apiName\":\"commitJob\",\"resultAck\":{\"errorCode\":26,\"info\":\"you must draw label first!\","
              "\"result\":-1}}\n");
    EXPECT_EQ(fake.callCount("commitJob"), 0);
    EXPECT_EQ(third.callCount("generateDataFromPrintJson"), 0);
}

TEST_F(PageCommitTest, DrawnLabelTakesCopiesAndEpcFromTheRequestAndTheRestFromTheBoard) {
    service.sdkInited = true;
    drawBoard(R"({"width":50,"height":30,"rotate":90})");
    fake.setResult<SdkMultipleResult>("getMultiple", {11.81, 0});
    EXPECT_EQ(commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":2,"epc":"E200","cutline":1,"orientation":180}})"),
              kSuccess);
    EXPECT_EQ(page()["printQuantity"].asInt(), 2);
    EXPECT_EQ(page()["epc"].asString(), "E200");
    EXPECT_EQ(page()["cutline"].asInt(), 0);
    EXPECT_EQ(page()["width"].asInt(), 7);
    EXPECT_EQ(page()["height"].asInt(), 5);
    EXPECT_EQ(page()["imageSize"].asInt(), kPageBytes);
    EXPECT_EQ(render()[0].asString(), *third.labelJson);
    EXPECT_EQ(render()[1].asInt(), 0);
    EXPECT_FLOAT_EQ(render()[2].asFloat(), 11.81f);
    EXPECT_FLOAT_EQ(render()[3].asFloat(), 11.81f);
    EXPECT_TRUE(render()[5].asBool());
    EXPECT_EQ(render()[6].asInt(), 90);
    EXPECT_EQ(render()[7], parse("[255,0,0,0]"));
    EXPECT_TRUE(third.allGivenBack());
}

TEST_F(PageCommitTest, DrawnLabelWithoutCopiesPrintsMinusOneAndKeepsNullInTheJobInformation) {
    service.sdkInited = true;
    drawBoard(R"({"width":50,"height":30})");
    EXPECT_EQ(commit(R"("parameter":{})"), kSuccess);
    EXPECT_EQ(page()["printQuantity"].asInt(), -1);
    EXPECT_TRUE(printImageInfoJson["printerImageProcessingInfo"].isMember("printQuantity"));
    EXPECT_TRUE(printImageInfoJson["printerImageProcessingInfo"]["printQuantity"].isNull());
}

TEST_F(PageCommitTest, DrawnLabelThatIsNotJsonIsRefused) {
    service.sdkInited = true;
    third.labelJson = "not json";
    LogCapture log;
    EXPECT_EQ(commit(R"("parameter":{})"), kJobValueError);
    EXPECT_TRUE(log.contains("[ERROR]:parse third jsonData fail"));
    EXPECT_TRUE(third.allGivenBack());
}

TEST_F(PageCommitTest, PrintDataIsRenderedWithTheRequestsJobValues) {
    EXPECT_EQ(commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1},"printData":{"width":20,"height":10}})"),
              kSuccess);
    EXPECT_EQ(render()[0].asString(), "{\"height\":10,\"width\":20}\n");
    EXPECT_EQ(render()[6].asInt(), 0);
    EXPECT_EQ(page()["cutline"].asInt(), 0);
    EXPECT_EQ(page()["epc"].asString(), "");
    EXPECT_EQ(page()["printQuantity"].asInt(), 1);
}

TEST_F(PageCommitTest, PrintDataThatIsATextIsWrittenAsAQuotedText) {
    commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1},"printData":"abc"})");
    EXPECT_EQ(render()[0].asString(), "\"abc\"\n");
}

TEST_F(PageCommitTest, PrintDataReplacesTheDrawnLabel) {
    service.sdkInited = true;
    drawBoard(R"({"width":50,"height":30})");
    commit(R"("parameter":{"printData":{"width":1}})");
    EXPECT_EQ(render()[0].asString(), "{\"width\":1}\n");
}

TEST_F(PageCommitTest, EmptyJobInformationIsRefused) {
    for (const char* body : {R"("parameter":{"printerImageProcessingInfo":{}})", R"("parameter":{"printerImageProcessingInfo":[]})",
                             R"("parameter":{"printerImageProcessingInfo":null})", R"("parameter":{})", R"("x":1)"}) {
        LogCapture log;
        EXPECT_EQ(commit(body), kJobValueError) << body;
        EXPECT_TRUE(log.contains("[ERROR]:printerImageProcessingImg empty!")) << body;
    }
    EXPECT_EQ(fake.callCount("commitJob"), 0);
}

TEST_F(PageCommitTest, MarginsComeOnlyFromTheTopLevel) {
    commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1,"margin":[5,5,5,5]}})");
    EXPECT_EQ(render()[4], parse("[0.0,0.0,0.0,0.0]"));
    commit(R"("printerImageProcessingInfo":{"margin":[1,2.9,3]},"parameter":{"printerImageProcessingInfo":{"printQuantity":1}})");
    EXPECT_EQ(render()[4], parse("[1.0,2.0,3.0,0.0]"));
}

TEST_F(PageCommitTest, AnEpcIsCutTo124Bytes) {
    const std::string epc(200, 'E');
    commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1,"epc":")" + epc + R"("}})");
    EXPECT_EQ(page()["epc"].asString(), epc.substr(0, 124));
    EXPECT_EQ(page()["epcLastByte"].asInt(), 0);
}

TEST_F(PageCommitTest, SdkRefusalIsAnsweredWithItsCode) {
    fake.setResult<SdkStatus>("commitJob", -2);
    EXPECT_EQ(commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1}})"),
              "{\"apiName\":\"commitJob\",\"resultAck\":{\"errorCode\":-2,\"info\":\"printer busy\",\"result\":-1}}\n");
    EXPECT_TRUE(third.allGivenBack());
}

TEST_F(PageCommitTest, ALabelThatRendersNothingNeverReachesTheSdk) {
    third.imageBytes.reset();
    EXPECT_EQ(commit(R"("parameter":{"printerImageProcessingInfo":{"printQuantity":1}})"), kJobValueError);
    EXPECT_EQ(fake.callCount("commitJob"), 0);
}

TEST_F(PageCommitTest, JobValuesOfTheWrongTypeAreRefused) {
    for (const char* body : {R"("parameter":5)", R"("parameter":{"printerImageProcessingInfo":5})",
                             R"("parameter":{"printerImageProcessingInfo":{"printQuantity":"2"}})",
                             R"("parameter":{"printerImageProcessingInfo":{"cutline":[1]}})",
                             R"("parameter":{"printerImageProcessingInfo":{"epc":{"a":1}}})",
                             R"("parameter":{"printerImageProcessingInfo":{"orientation":1e20}})",
                             R"("printerImageProcessingInfo":{"margin":5},"parameter":{"printerImageProcessingInfo":{"a":1}})",
                             R"("printerImageProcessingInfo":{"margin":["1"]},"parameter":{"printerImageProcessingInfo":{"a":1}})"}) {
        EXPECT_EQ(commit(body), kJobValueError) << body;
    }
    EXPECT_EQ(fake.callCount("commitJob"), 0);
    service.sdkInited = true;
    drawBoard(R"({"width":50,"height":30})");
    EXPECT_EQ(commit(R"("parameter":{"printerImageProcessingInfo":"x"})"), kJobValueError);
    EXPECT_EQ(fake.callCount("commitJob"), 0);
}

}  // namespace
