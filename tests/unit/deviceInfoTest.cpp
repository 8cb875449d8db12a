// Device information: the text getters with their different failure values and the rule that
// their text is given back whatever the call's outcome; the high-level information, whose answer
// follows its text; the printer type, the scale, the battery level's log line; and the two
// operations that are accepted but not carried out.
#include <limits>

#include "tests/support/logCapture.h"
#include "tests/unit/settingsTestSupport.h"

namespace {

struct TextGetterRow {
    const char* apiName;
    const char* exportName;
    const char* info;        // null: the text itself
    const char* failedWith;  // the "result" of a failure, as written in the answer
};

const TextGetterRow kTextGetters[] = {
    {"getDeviceSn", "getDeviceSn", "get sn success!", "0"},
    {"getPrinterSn", "getDeviceSn", "get sn success!", "0"},
    {"getSoftWareVersion", "getSoftWareVersion", "get software version success!", "\"0.00\""},
    {"getPrinterSoftwareVersion", "getSoftWareVersion", "get software version success!", "\"0.00\""},
    {"getHardWareVersion", "getHardWareVersion", "get hardware version success!", "\"0.00\""},
    {"getPrinterHardwareVersion", "getHardWareVersion", "get hardware version success!", "\"0.00\""},
    {"getPrinterLog", "getPrinterLog", "get printer log success!", "-1"},
    {"getSdkVersion", "getSdkVersion", nullptr, "0"},
    {"getSDKVersion", "getSdkVersion", nullptr, "0"},
    {"getAntiCounterfeiKey", "getAntiCounterfeiKey", "get printer antiCounterfeitKey success!", "-1"},
    {"getAntiCounterfeitKey", "getAntiCounterfeiKey", "get printer antiCounterfeitKey success!", "-1"},
};

std::string failedAnswer(const std::string& apiName, int code, const std::string& info, const std::string& result) {
    return "{\"apiName\":" + quoted(apiName) + ",\"resultAck\":{\"errorCode\":" + std::to_string(code) +
           ",\"info\":" + quoted(info) + ",\"result\":" + result + "}}\n";
}

class DeviceInfoTest : public SettingsServiceTest {};

TEST_F(DeviceInfoTest, TextGettersAnswerTheTextAndGiveItBack) {
    for (const TextGetterRow& row : kTextGetters) {
        SCOPED_TRACE(row.apiName);
        for (const std::string text : {"ABC123", "", "V2.1.0 \"beta\"\n"}) {
            fake.clearCalls();
            fake.setResult<SdkTextResult>(row.exportName, {fake.handOutText(text), 0});
            EXPECT_EQ(ask(row.apiName), textAnswer(row.apiName, 0, row.info != nullptr ? row.info : text, text));
            EXPECT_EQ(callTrace(), std::string(row.exportName) + " freeData[true]");
        }
    }
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(DeviceInfoTest, AFailedTextGetterStillGivesItsTextBackAndAnswersItsFailureValue) {
    const struct {
        int code;
        const char* info;
    } failures[] = {{-4, "printer disconnect"}, {-1, "fail"}, {7, ""}};
    for (const TextGetterRow& row : kTextGetters) {
        SCOPED_TRACE(row.apiName);
        for (const auto& failure : failures) {
            fake.clearCalls();
            fake.setResult<SdkTextResult>(row.exportName, {fake.handOutText("stale"), failure.code});
            EXPECT_EQ(ask(row.apiName), failedAnswer(row.apiName, failure.code, failure.info, row.failedWith));
            EXPECT_EQ(callTrace(), std::string(row.exportName) + " freeData[true]");
        }
    }
    EXPECT_TRUE(fake.allGivenBack());
}

// The bytes arrive unconverted: the client reads back exactly what the SDK gave.
TEST_F(DeviceInfoTest, TextsOutsideAsciiArePassedThroughUnconverted) {
    const std::string text = "Gr\xc3\xbc\xc3\x9f \xe6\xa0\x87\xe7\xad\xbe";
    fake.setResult<SdkTextResult>("getPrinterLog", {fake.handOutText(text), 0});
    Json::Value answer;
    ASSERT_TRUE(Json::Reader().parse(ask("getPrinterLog"), answer));
    EXPECT_EQ(answer["resultAck"]["result"].asString(), text);
}

TEST_F(DeviceInfoTest, ANullTextIsEmptyAndNotHandedBack) {
    fake.setResult<SdkTextResult>("getDeviceSn", {nullptr, 0});
    EXPECT_EQ(ask("getDeviceSn"), textAnswer("getDeviceSn", 0, "get sn success!", ""));
    fake.setResult<SdkTextResult>("getSoftWareVersion", {nullptr, -2});
    EXPECT_EQ(ask("getSoftWareVersion"), textAnswer("getSoftWareVersion", -2, "printer busy", "0.00"));
    EXPECT_EQ(callTrace(), "getDeviceSn getSoftWareVersion");
}

TEST_F(DeviceInfoTest, ExamplesAnswerByteForByte) {
    fake.setResult<SdkTextResult>("getDeviceSn", {fake.handOutText("ABC123"), 0});
    EXPECT_EQ(ask("getPrinterSn"),
              "{\"apiName\":\"getPrinterSn\",\"resultAck\":{\"errorCode\":0,\"info\":\"get sn success!\","
              "\"result\":\"ABC123\"}}\n");
    fake.setResult<SdkTextResult>("getDeviceSn", {fake.handOutText("ABC123"), -4});
    EXPECT_EQ(ask("getDeviceSn"),
              "{\"apiName\":\"getDeviceSn\",\"resultAck\":{\"errorCode\":-4,\"info\":\"printer disconnect\","
              "\"result\":0}}\n");
    fake.setResult<SdkTextResult>("getSoftWareVersion", {fake.handOutText("1.2.0"), -1});
    EXPECT_EQ(ask("getSoftWareVersion"),
              "{\"apiName\":\"getSoftWareVersion\",\"resultAck\":{\"errorCode\":-1,\"info\":\"fail\","
              "\"result\":\"0.00\"}}\n");
    fake.setResult<SdkTextResult>("getSdkVersion", {fake.handOutText("V2.1.0"), 0});
    EXPECT_EQ(ask("getSDKVersion"),
              "{\"apiName\":\"getSDKVersion\",\"resultAck\":{\"errorCode\":0,\"info\":\"V2.1.0\","
              "\"result\":\"V2.1.0\"}}\n");
}

// ---- high-level information ----------------------------------------------------------------

TEST_F(DeviceInfoTest, HighLevelInformationIsAnsweredByItsText) {
    const std::string info = R"({"battery":80,"cover":0})";
    fake.setResult<SdkTextResult>("getPrinterHighLevelInfo", {fake.handOutText(info), 0});
    EXPECT_EQ(ask("getPrinterHighLevelInfo"), intAnswer("getPrinterHighLevelInfo", 0, info, 1));
    EXPECT_EQ(callTrace(), "getPrinterHighLevelInfo freeData[true]");

    fake.clearCalls();
    fake.setResult<SdkTextResult>("getPrinterHighLevelInfo", {fake.handOutText(""), 0});
    EXPECT_EQ(ask("getPrinterHighLevelInfo"), intAnswer("getPrinterHighLevelInfo", 0, "success", 0));
    EXPECT_EQ(callTrace(), "getPrinterHighLevelInfo freeData[true]");
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(DeviceInfoTest, AFailedHighLevelInformationIsNeitherReadNorHandedBack) {
    fake.setResult<SdkTextResult>("getPrinterHighLevelInfo", {fake.handOutText("not to be read"), -2});
    EXPECT_EQ(ask("getPrinterHighLevelInfo"), intAnswer("getPrinterHighLevelInfo", -2, "printer busy", 0));
    EXPECT_EQ(callTrace(), "getPrinterHighLevelInfo");
    EXPECT_FALSE(fake.allGivenBack());
    fake.setResult<SdkTextResult>("getPrinterHighLevelInfo", {nullptr, 9});
    EXPECT_EQ(ask("getPrinterHighLevelInfo"), intAnswer("getPrinterHighLevelInfo", 9, "", 0));
}

// ---- integer information -------------------------------------------------------------------

TEST_F(DeviceInfoTest, PrinterTypeIsBothResultAndInfo) {
    fake.setResult<SdkIntResult>("getPrinterType", {3, 0});
    EXPECT_EQ(ask("getPrinterType"),
              "{\"apiName\":\"getPrinterType\",\"resultAck\":{\"errorCode\":0,\"info\":3,\"result\":3}}\n");
    fake.setResult<SdkIntResult>("getPrinterType", {3, -4});
    EXPECT_EQ(ask("getPrinterType"), intAnswer("getPrinterType", -4, "printer disconnect", -1));
}

TEST_F(DeviceInfoTest, ScaleIsTruncatedTowardZero) {
    const struct {
        double multiple;
        int result;
    } rows[] = {
        {11.81, 11}, {8.0, 8}, {8.9, 8}, {0.5, 0}, {-2.5, -2}, {2147483647.0, 2147483647},
        // Beyond int32 the answer is held at the range's end.
        {1e20, 2147483647}, {-1e20, -2147483647 - 1}, {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.multiple);
        fake.setResult<SdkMultipleResult>("getMultiple", {row.multiple, 0});
        EXPECT_EQ(ask("getMultiple"), intAnswer("getMultiple", 0, "get printer multiple success!", row.result));
    }
    fake.setResult<SdkMultipleResult>("getMultiple", {8.0, -4});
    EXPECT_EQ(ask("getMultiple"), intAnswer("getMultiple", -4, "printer disconnect", -1));
}

TEST_F(DeviceInfoTest, OnlyAFailedBatteryReadingIsLogged) {
    LogCapture log;
    fake.setResult<SdkIntResult>("getElectricity", {80, 0});
    EXPECT_EQ(ask("getPower"), intAnswer("getPower", 0, "get device electricity success!", 80));
    EXPECT_FALSE(log.contains("printer disconnect"));
    fake.setResult<SdkIntResult>("getElectricity", {80, -4});
    EXPECT_EQ(ask("getPower"), intAnswer("getPower", -4, "printer disconnect", -1));
    EXPECT_EQ(log.count("[INFO]:-4,printer disconnect"), 1);
    // Other getters fail without a line of their own.
    log.clear();
    fake.setResult<SdkIntResult>("getAreaCode", {86, -4});
    ask("getAreaCode");
    EXPECT_FALSE(log.contains("[INFO]:-4,"));
}

// ---- accepted, not carried out -------------------------------------------------------------

TEST_F(DeviceInfoTest, PrintQualityAnswersAnEmptyMessageAndBluetoothAddressAFixedRefusal) {
    EXPECT_EQ(ask("getPrintQuality"), "");
    EXPECT_EQ(ask("getPrinterBluetoothAddress"), intAnswer("getPrinterBluetoothAddress", -3, "not realization", -1));
    EXPECT_EQ(callTrace(), "");
}

}  // namespace
