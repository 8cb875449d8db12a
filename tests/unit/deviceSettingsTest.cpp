// The device settings that are not plain integers: the actions, the structured getters (their
// "result" documents byte for byte, and when the key-function list is given back), the setters
// whose keys have defaults (what reaches the SDK, what is refused), and the Wi-Fi text getter.
#include <iterator>
#include <string>
#include <vector>

#include "tests/unit/settingsTestSupport.h"

namespace {

class DeviceSettingsTest : public SettingsServiceTest {};

// ---- actions -------------------------------------------------------------------------------

TEST_F(DeviceSettingsTest, ActionsAnswerTheirOwnTextOrTheSdkFailure) {
    const struct {
        const char* apiName;
        const char* info;
    } actions[] = {
        {"resetPrinter", "reset printer success!"},
        {"setTubeCalibration", "set printer tube calibration success!"},
        {"setAnti", "change anti success!"},
    };
    for (const auto& action : actions) {
        SCOPED_TRACE(action.apiName);
        fake.clearCalls();
        EXPECT_EQ(ask(action.apiName), intAnswer(action.apiName, 0, action.info, 0));
        EXPECT_EQ(callTrace(), action.apiName);
        fake.setResult<SdkStatus>(action.apiName, -3);
        EXPECT_EQ(ask(action.apiName), intAnswer(action.apiName, -3, "no support", -1));
        fake.setResult<SdkStatus>(action.apiName, 99);
        EXPECT_EQ(ask(action.apiName), intAnswer(action.apiName, 99, "", -1));
    }
}

TEST_F(DeviceSettingsTest, SetAntiIgnoresWhateverParameterItIsGiven) {
    for (const char* parameter : {"{}", "5", "[1]", R"({"x":"y"})", "null"}) {
        SCOPED_TRACE(parameter);
        EXPECT_EQ(ask("setAnti", parameter), intAnswer("setAnti", 0, "change anti success!", 0));
    }
    EXPECT_EQ(fake.callCount("setAnti"), 5);
}

// ---- structured getters --------------------------------------------------------------------

TEST_F(DeviceSettingsTest, HalfCutRangeIsAnsweredAsADocument) {
    fake.setResult<SdkPairResult>("getHalfCutSupport", {10, 1, 0});
    EXPECT_EQ(ask("getHalfCutSupport"),
              "{\"apiName\":\"getHalfCutSupport\",\"resultAck\":{\"errorCode\":0,\"info\":\"get printer halfCut "
              "depth success!\",\"result\":\"{\\\"maxCutDepth\\\":10,\\\"minCutDepth\\\":1}\\n\"}}\n");
    fake.setResult<SdkPairResult>("getHalfCutSupport", {10, 1, -4});
    EXPECT_EQ(ask("getHalfCutSupport"), intAnswer("getHalfCutSupport", -4, "printer disconnect", -1));
}

TEST_F(DeviceSettingsTest, PrinterClockIsADocumentOfSixIntegersInKeyOrder) {
    fake.setResult<SdkPrinterTimeResult>("getPrinterTime", {2026, 3, 14, 9, 30, 5, 0});
    EXPECT_EQ(ask("getPrinterTime"),
              textAnswer("getPrinterTime", 0, "get printer time success!",
                         "{\"day\":14,\"hour\":9,\"minute\":30,\"month\":3,\"second\":5,\"year\":2026}\n"));
    fake.setResult<SdkPrinterTimeResult>("getPrinterTime", {2026, 3, 14, 9, 30, 5, -2});
    EXPECT_EQ(ask("getPrinterTime"), intAnswer("getPrinterTime", -2, "printer busy", -1));
}

TEST_F(DeviceSettingsTest, KeyFunctionsKeepTheListOrderAndTheListIsGivenBack) {
    const KeyFunctionInfo keys[] = {{0, 1}, {1, 2}};
    fake.setResult<SdkListResult>("getKeyFunction", {fake.handOut(keys, sizeof keys), 2, 0});
    EXPECT_EQ(ask("getKeyFunction"),
              textAnswer("getKeyFunction", 0, "get printer key function success!",
                         "[{\"functionValue\":1,\"keyIndex\":0},{\"functionValue\":2,\"keyIndex\":1}]\n"));
    EXPECT_EQ(callTrace(), "getKeyFunction freeData[true]");
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(DeviceSettingsTest, AnEmptyKeyFunctionListIsNullAndStillGivenBack) {
    for (int count : {0, -1}) {
        SCOPED_TRACE(count);
        fake.clearCalls();
        fake.setResult<SdkListResult>("getKeyFunction", {fake.handOut(nullptr, 0), count, 0});
        EXPECT_EQ(ask("getKeyFunction"), textAnswer("getKeyFunction", 0, "get printer key function success!", "null\n"));
        EXPECT_EQ(callTrace(), "getKeyFunction freeData[true]");
    }
    EXPECT_TRUE(fake.allGivenBack());
    // No array at all: nothing to read and nothing to give back, even with a count.
    fake.clearCalls();
    fake.setResult<SdkListResult>("getKeyFunction", {nullptr, 3, 0});
    EXPECT_EQ(ask("getKeyFunction"), textAnswer("getKeyFunction", 0, "get printer key function success!", "null\n"));
    EXPECT_EQ(callTrace(), "getKeyFunction");
}

TEST_F(DeviceSettingsTest, AFailedKeyFunctionListIsNeitherReadNorGivenBack) {
    const KeyFunctionInfo keys[] = {{0, 1}};
    fake.setResult<SdkListResult>("getKeyFunction", {fake.handOut(keys, sizeof keys), 1, -4});
    EXPECT_EQ(ask("getKeyFunction"), intAnswer("getKeyFunction", -4, "printer disconnect", -1));
    EXPECT_EQ(callTrace(), "getKeyFunction");
}

// ---- setters whose keys have defaults ------------------------------------------------------

TEST_F(DeviceSettingsTest, KeyFunctionValuesAreConvertedAndDefaultToZero) {
    const struct {
        const char* parameter;
        int keyIndex;
        int functionValue;
    } rows[] = {
        {R"({"keyIndex":1,"functionValue":3})", 1, 3},
        {"{}", 0, 0},
        {"null", 0, 0},
        {R"({"keyIndex":2.7})", 2, 0},
        {R"({"keyIndex":-2.7,"functionValue":4})", -2, 4},
        {R"({"keyIndex":true,"functionValue":false})", 1, 0},
        {R"({"keyIndex":null,"functionValue":2147483647})", 0, 2147483647},
        {R"({"functionValue":-2147483648})", 0, -2147483648},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.parameter);
        EXPECT_EQ(ask("setKeyFunction", row.parameter), intAnswer("setKeyFunction", 0, "set printer key function ok!", 0));
        Json::Value expected(Json::arrayValue);
        expected.append(row.keyIndex);
        expected.append(row.functionValue);
        EXPECT_EQ(fake.lastArgs("setKeyFunction"), expected);
    }
    // With no "parameter" at all.
    fake.clearCalls();
    EXPECT_EQ(ask("setKeyFunction"), intAnswer("setKeyFunction", 0, "set printer key function ok!", 0));
    EXPECT_EQ(fake.lastArgs("setKeyFunction")[0], 0);
    EXPECT_EQ(fake.lastArgs("setKeyFunction")[1], 0);
    fake.setResult<SdkStatus>("setKeyFunction", -4);
    EXPECT_EQ(ask("setKeyFunction", "{}"), intAnswer("setKeyFunction", -4, "printer disconnect", -1));
}

Json::Value clockRecord(int year, int month, int day, int hour, int minute, int second) {
    Json::Value record;
    record["year"] = year;
    record["month"] = month;
    record["day"] = day;
    record["hour"] = hour;
    record["minute"] = minute;
    record["second"] = second;
    return record;
}

TEST_F(DeviceSettingsTest, ClockFieldsAreConvertedDefaultToZeroAndAreNotRangeChecked) {
    const struct {
        const char* parameter;
        Json::Value record;
    } rows[] = {
        {R"({"hour":9,"minute":30})", clockRecord(0, 0, 0, 9, 30, 0)},
        {R"({"year":2026,"month":13,"day":32,"hour":25,"minute":61,"second":-1})", clockRecord(2026, 13, 32, 25, 61, -1)},
        {R"({"year":2026.9,"month":true,"day":null})", clockRecord(2026, 1, 0, 0, 0, 0)},
        {"{}", clockRecord(0, 0, 0, 0, 0, 0)},
        {"null", clockRecord(0, 0, 0, 0, 0, 0)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.parameter);
        EXPECT_EQ(ask("setPrinterTime", row.parameter), intAnswer("setPrinterTime", 0, "set printer time ok!", 0));
        EXPECT_EQ(fake.lastArgs("setPrinterTime")[0], row.record);
    }
    ask("setPrinterTime");
    EXPECT_EQ(fake.lastArgs("setPrinterTime")[0], clockRecord(0, 0, 0, 0, 0, 0));
    fake.setResult<SdkStatus>("setPrinterTime", -1);
    EXPECT_EQ(ask("setPrinterTime", "{}"), intAnswer("setPrinterTime", -1, "fail", -1));
}

TEST_F(DeviceSettingsTest, WifiTextsAreZeroFilledAndCutTo99Bytes) {
    const std::string name150(150, 'n');
    const std::string password99(99, 'p');
    const std::string password100(100, 'q');
    const struct {
        std::string parameter;
        std::string name;
        std::string password;
    } rows[] = {
        {"{}", "", ""},
        {"null", "", ""},
        {R"({"wifiName":"Office","wifiPassword":"secret"})", "Office", "secret"},
        {"{\"wifiName\":\"" + name150 + "\"}", name150.substr(0, 99), ""},
        {"{\"wifiPassword\":\"" + password99 + "\"}", "", password99},
        {"{\"wifiPassword\":\"" + password100 + "\"}", "", password100.substr(0, 99)},
        {R"({"wifiName":"Büro \"5\"","wifiPassword":null})", "B\xc3\xbcro \"5\"", ""},
        {R"({"wifiName":12345,"wifiPassword":true})", "12345", "true"},
        {R"({"wifiName":-7,"wifiPassword":false})", "-7", "false"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.parameter);
        fake.clearCalls();
        EXPECT_EQ(ask("setDeviceWifi", row.parameter), intAnswer("setDeviceWifi", 0, "set printer wifi success!", 0));
        const Json::Value record = fake.lastArgs("setDeviceWifi")[0];
        EXPECT_EQ(record["wifiName"].asString(), row.name);
        EXPECT_EQ(record["wifiPassword"].asString(), row.password);
        EXPECT_TRUE(record["zeroFilled"].asBool());
    }
    ask("setDeviceWifi");
    EXPECT_EQ(fake.lastArgs("setDeviceWifi")[0]["wifiName"].asString(), "");
}

// Missing keys take defaults; only a value the conversion refuses, or a "parameter" that is not
// an object, is refused, and then nothing reaches the SDK.
TEST_F(DeviceSettingsTest, SettersWithDefaultsRefuseOnlyWhatCannotBeConverted) {
    const char* const notInt32[] = {R"("2")", R"("")", "[1]", R"({"v":1})", "2147483648", "-2147483649", "1e10"};
    const char* const notText[] = {R"(["a"])", R"({"a":1})", "{}", "[]"};
    const char* const notAnObject[] = {"5", "[]", R"([{"hour":1}])", R"("x")", "true"};
    const struct {
        const char* apiName;
        std::vector<const char*> keys;
        const char* const* badValues;
        size_t badCount;
    } setters[] = {
        {"setKeyFunction", {"keyIndex", "functionValue"}, notInt32, std::size(notInt32)},
        {"setPrinterTime", {"year", "month", "day", "hour", "minute", "second"}, notInt32, std::size(notInt32)},
        {"setDeviceWifi", {"wifiName", "wifiPassword"}, notText, std::size(notText)},
        {"configurationWifi", {"wifiName", "wifiPassword"}, notText, std::size(notText)},
    };
    for (const auto& setter : setters) {
        for (const char* key : setter.keys) {
            for (size_t i = 0; i < setter.badCount; ++i) {
                const std::string parameter = std::string("{\"") + key + "\":" + setter.badValues[i] + "}";
                SCOPED_TRACE(std::string(setter.apiName) + " " + parameter);
                EXPECT_EQ(ask(setter.apiName, parameter), parameterError(setter.apiName));
            }
        }
        for (const char* parameter : notAnObject) {
            SCOPED_TRACE(std::string(setter.apiName) + " " + parameter);
            EXPECT_EQ(ask(setter.apiName, parameter), parameterError(setter.apiName));
        }
    }
    EXPECT_EQ(callTrace(), "");
}

TEST_F(DeviceSettingsTest, ConfigurationWifiIsTheWifiSetterUnderItsOwnName) {
    EXPECT_EQ(ask("configurationWifi", R"({"wifiName":"A","wifiPassword":"B"})"),
              intAnswer("configurationWifi", 0, "set printer wifi success!", 0));
    EXPECT_EQ(fake.lastArgs("setDeviceWifi")[0]["wifiName"].asString(), "A");
    fake.setResult<SdkStatus>("setDeviceWifi", -2);
    EXPECT_EQ(ask("configurationWifi", "{}"), intAnswer("configurationWifi", -2, "printer busy", -1));
}

// ---- the Wi-Fi text getter -----------------------------------------------------------------

TEST_F(DeviceSettingsTest, WifiConfigurationTextIsGivenBackOnSuccessAndOnFailure) {
    for (const char* apiName : {"getDeviceWifi", "getWifiConfiguration"}) {
        SCOPED_TRACE(apiName);
        fake.clearCalls();
        fake.setResult<SdkTextResult>("getDeviceWifi", {fake.handOutText("KV-Office"), 0});
        EXPECT_EQ(ask(apiName), textAnswer(apiName, 0, "get Device wifi success!", "KV-Office"));
        fake.setResult<SdkTextResult>("getDeviceWifi", {fake.handOutText("stale"), -4});
        EXPECT_EQ(ask(apiName), intAnswer(apiName, -4, "printer disconnect", -1));
        EXPECT_EQ(callTrace(), "getDeviceWifi freeData[true] getDeviceWifi freeData[true]");
        EXPECT_TRUE(fake.allGivenBack());
    }
}

}  // namespace
