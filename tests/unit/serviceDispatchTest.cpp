// The service's entry operation: which texts are answered, under which name, by which row of
// the dispatch table, and that nothing a client sends stops it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "tests/support/fakePrinterSdk.h"

namespace {

bool noSdk() { return false; }

Json::Value parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

// Every name of the dispatch table, in its order.
const char* const kDispatchNames[] = {
    "initSdk", "getUsbPrinter", "getAllPrinters", "connetUsbPrinter", "selectPrinter", "getWifiPrinter",
    "scanWifiPrinter", "connectWifiPrinter", "getBluetoothPrinter", "connectBluetoothPrinter", "startJob",
    "commitJob", "pausePrint", "resumePrint", "cancelJob", "stopPrint", "endJob", "getPrintMode", "setPrintMode",
    "getPrintDensity", "setPrintDensity", "getLabelType", "getPrintLabelType", "setLabelType",
    "setPrintLabelType", "getPrintSpeed", "setPrintSpeed", "getLanguageType", "getPrinterLanguageType",
    "setLanguageType", "setPrinterLanguageType", "getAutoShutDownTime", "getPrinterAutoShutDownTime",
    "setAutoShutDownTime", "setPrinterAutoShutDownTimeApi", "getPrinterTime", "setPrinterTime",
    "getKeyFunction", "setKeyFunction", "getDeviceVoice", "setDeviceVoice", "getElectricity", "getPower",
    "getDeviceSn", "getPrinterSn", "getSoftWareVersion", "getPrinterSoftwareVersion", "getHardWareVersion",
    "getPrinterHardwareVersion", "getPrinterHistory", "getPrinterTagID", "getRfidSuccessTimes",
    "getPrinterTimes", "getColorSupport", "getColorType", "getPageInfo", "paperCalibration", "getPrinterLog",
    "getSdkVersion", "getSDKVersion", "getAntiCounterfeiKey", "getAntiCounterfeitKey", "setDeviceWifi",
    "configurationWifi", "getPrintQualitySupport", "getHalfCutSupport", "getHalfCut", "setHalfCut",
    "setTubeCalibration", "setTubeAdjustLength", "getRfidPararm", "getRfidInfo", "getMultiple", "getAreaCode",
    "resetPrinter", "setAnti", "getPrinterType", "getDeviceWifi", "getWifiConfiguration", "getPrintQuality",
    "upgradeFirmware", "updateFirmware", "closePrinter", "getPrinterHighLevelInfo", "getConsumablesRfidInfo",
    "initImageProcessing", "picturePrint", "getPaperInfo", "getPrinterBluetoothAddress",
};

std::string request(const std::string& apiName) { return R"({"apiName":")" + apiName + R"("})"; }

class ServiceDispatchTest : public ::testing::Test {
protected:
    FakePrinterSdk& fake = FakePrinterSdk::instance();
    cKvPrinterService service{&FakePrinterSdk::load};
};

// Without the SDK every printer operation answers the same refusal, which tells a row of the
// table apart from a name that matches none.
TEST(ServiceWithoutSdk, EveryNameOfTheTableIsARowAndNoSdkFunctionIsCalled) {
    FakePrinterSdk::instance().install();
    unloadPrinterSdk();  // the table is empty: any call would crash
    cKvPrinterService service(&noSdk);
    EXPECT_EQ(service.thirdApi, nullptr);
    int rows = 0;
    for (const char* name : kDispatchNames) {
        const std::optional<std::string> answer = service.answerRequest(request(name));
        ASSERT_TRUE(answer) << name;
        ++rows;
        const std::string apiName = name;
        if (apiName == "getPrintQuality" || apiName == "getPrinterBluetoothAddress") {
            // These two touch no SDK and are answered all the same.
            EXPECT_EQ(answer->find("printer sdk not loaded"), std::string::npos) << *answer;
        } else {
            EXPECT_EQ(*answer, "{\"apiName\":\"" + std::string(name) +
                                   "\",\"resultAck\":{\"errorCode\":-1,\"info\":\"printer sdk not loaded\","
                                   "\"result\":-1}}\n");
        }
    }
    EXPECT_EQ(rows, 89);
    EXPECT_TRUE(FakePrinterSdk::instance().calls().empty());
}

TEST(ServiceWithoutSdk, NamesOutsideTheTableMatchNothing) {
    cKvPrinterService service(&noSdk);
    for (const char* name : {"connectUsbPrinter", "setPrinterAutoShutDownTime", "GetPower", "getpower", "getPower ",
                             "DrawLableText"}) {
        EXPECT_EQ(service.answerRequest(request(name)),
                  "{\"apiName\":\"" + std::string(name) +
                      "\",\"resultAck\":{\"errorCode\":-3,\"info\":\"no this interface\",\"result\":-1}}\n")
            << name;
    }
}

TEST_F(ServiceDispatchTest, ConstructionStartsTheSdkAndRegistersTheCallback) {
    const std::vector<std::string> names = fake.callNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "initSdk");
    EXPECT_EQ(names[1], "registCallback");
    EXPECT_TRUE(fake.lastArgs("registCallback")[0].asBool());
    EXPECT_NE(service.thirdApi, nullptr);
    EXPECT_FALSE(service.sdkInited);
}

TEST_F(ServiceDispatchTest, DestructionEndsTheSdk) {
    {
        cKvPrinterService other(&FakePrinterSdk::load);
    }
    EXPECT_EQ(fake.callNames().back(), "unInitSdk");
    EXPECT_FALSE(printerSdkLoaded());
}

TEST_F(ServiceDispatchTest, TextThatIsNotStrictJsonGetsNoAnswerAndTheNextIsServed) {
    for (const char* text : {"not json", "", "5", "\"text\"", "/* c */ {\"apiName\":\"pausePrint\"}",
                             "{\"apiName\":\"pausePrint\""}) {
        EXPECT_FALSE(service.answerRequest(text)) << text;
        // Its error records would point into a text that is gone.
        EXPECT_TRUE(service.jsonReader->getStructuredErrors().empty()) << text;
    }
    EXPECT_FALSE(service.callPrintApi("not json"));
    EXPECT_TRUE(service.answerRequest(request("pausePrint")));
}

TEST_F(ServiceDispatchTest, NestingBeyondTheReadersLimitGetsNoAnswerAndThrowsNothing) {
    // The JSON library refuses such text by throwing; it is text that cannot be read.
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const std::string deepInside = R"({"apiName":"pausePrint","parameter":)" + deep + "}";
    for (const std::string& text : {deep, deepInside}) {
        std::optional<std::string> answer;
        EXPECT_NO_THROW(answer = service.answerRequest(text));
        EXPECT_FALSE(answer);
    }
    EXPECT_EQ(fake.callCount("pausePrint"), 0);
    EXPECT_TRUE(service.answerRequest(request("pausePrint")));
}

TEST_F(ServiceDispatchTest, ARequestWithoutNameIsAnsweredUnderTheEmptyName) {
    EXPECT_EQ(service.answerRequest(R"({"parameter":{}})"),
              "{\"apiName\":\"\",\"resultAck\":{\"errorCode\":-3,\"info\":\"no this interface\",\"result\":-1}}\n");
    EXPECT_EQ(service.answerRequest(R"({"apiName":null})"),
              "{\"apiName\":\"\",\"resultAck\":{\"errorCode\":-3,\"info\":\"no this interface\",\"result\":-1}}\n");
}

TEST_F(ServiceDispatchTest, ANumberOrBooleanNameIsComparedAsItsText) {
    EXPECT_EQ(parse(*service.answerRequest(R"({"apiName":5})"))["apiName"].asString(), "5");
    EXPECT_EQ(parse(*service.answerRequest(R"({"apiName":true})"))["apiName"].asString(), "true");
}

TEST_F(ServiceDispatchTest, UnreadableRootsOrNamesAreRefusedWithoutStoppingTheWorker) {
    const std::string refused =
        "{\"apiName\":\"\",\"resultAck\":{\"errorCode\":26,\"info\":\"parameter error!\",\"result\":-1}}\n";
    EXPECT_EQ(service.answerRequest("[1,2,3]"), refused);
    EXPECT_EQ(service.answerRequest("[]"), refused);
    EXPECT_EQ(service.answerRequest(R"({"apiName":["pausePrint"]})"), refused);
    EXPECT_EQ(service.answerRequest(R"({"apiName":{"a":1}})"), refused);
    EXPECT_EQ(fake.callCount("pausePrint"), 0);
    EXPECT_TRUE(service.answerRequest(request("pausePrint")));
    EXPECT_EQ(fake.callCount("pausePrint"), 1);
}

TEST_F(ServiceDispatchTest, TheCurrentNameFollowsEveryReadableRequest) {
    service.answerRequest(request("getPower"));
    EXPECT_EQ(service.getCurrentApiName(), "getPower");
    service.answerRequest("not json");
    EXPECT_EQ(service.getCurrentApiName(), "getPower");
    service.answerRequest(request("unknownThing"));
    EXPECT_EQ(service.getCurrentApiName(), "unknownThing");
}

TEST_F(ServiceDispatchTest, PauseAndResumeOnSuccess) {
    EXPECT_EQ(service.answerRequest(request("pausePrint")),
              "{\"apiName\":\"pausePrint\",\"resultAck\":{\"errorCode\":0,\"info\":\"pause success\",\"result\":0}}\n");
    EXPECT_EQ(service.answerRequest(request("resumePrint")),
              "{\"apiName\":\"resumePrint\",\"resultAck\":{\"errorCode\":0,\"info\":\"resume success\",\"result\":0}}\n");
    EXPECT_EQ(fake.callCount("pausePrint"), 1);
    EXPECT_EQ(fake.callCount("resumePrint"), 1);
}

TEST_F(ServiceDispatchTest, PauseAndResumeOnAnSdkError) {
    fake.setResult<SdkStatus>("pausePrint", -2);
    fake.setResult<SdkStatus>("resumePrint", 7);
    EXPECT_EQ(service.answerRequest(request("pausePrint")),
              "{\"apiName\":\"pausePrint\",\"resultAck\":{\"errorCode\":-2,\"info\":\"printer busy\",\"result\":-1}}\n");
    EXPECT_EQ(service.answerRequest(request("resumePrint")),
              "{\"apiName\":\"resumePrint\",\"resultAck\":{\"errorCode\":7,\"info\":\"\",\"result\":-1}}\n");
}

}  // namespace
