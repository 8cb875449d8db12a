// The integer getter and setter patterns, for every operation built on them: the exact success
// texts under every alias, the SDK's failures passed on, and which values reach the SDK (whole
// numbers in the int32 range only, nothing at all for anything else).
#include "tests/unit/settingsTestSupport.h"

namespace {

struct GetterRow {
    const char* apiName;
    const char* exportName;
    const char* info;
};

const GetterRow kGetters[] = {
    {"getPrintDensity", "getPrintDensity", "getPrintDensity success"},
    {"getPrintSpeed", "getPrintSpeed", "getPrintSpeed success"},
    {"getPrintMode", "getPrintMode", "getPrintMode success"},
    {"getLabelType", "getLabelType", "getLabelType success"},
    {"getPrintLabelType", "getLabelType", "getLabelType success"},
    {"getLanguageType", "getLanguageType", "get language type success!"},
    {"getPrinterLanguageType", "getLanguageType", "get language type success!"},
    {"getAutoShutDownTime", "getAutoShutDownTime", "get auto shutdown time success!"},
    {"getPrinterAutoShutDownTime", "getAutoShutDownTime", "get auto shutdown time success!"},
    {"getDeviceVoice", "getDeviceVoice", "get device voice success!"},
    {"getHalfCut", "getHalfCut", "get printer halfCut depth success!"},
    {"getAreaCode", "getAreaCode", "get area code success!"},
    {"getElectricity", "getElectricity", "get device electricity success!"},
    {"getPower", "getElectricity", "get device electricity success!"},
};

class IntegerGetterTest : public SettingsServiceTest {};

TEST_F(IntegerGetterTest, SuccessAnswersTheValueWithTheOperationsOwnText) {
    for (const GetterRow& row : kGetters) {
        SCOPED_TRACE(row.apiName);
        for (int value : {3, 0, -7, 2147483647}) {
            fake.clearCalls();
            fake.setResult<SdkIntResult>(row.exportName, {value, 0});
            EXPECT_EQ(ask(row.apiName), intAnswer(row.apiName, 0, row.info, value));
            EXPECT_EQ(callTrace(), row.exportName);
        }
    }
}

TEST_F(IntegerGetterTest, SdkFailuresArePassedOnWithTheirMessage) {
    const struct {
        int code;
        const char* info;
    } failures[] = {{-1, "fail"}, {-2, "printer busy"}, {-3, "no support"}, {-4, "printer disconnect"}, {7, ""}};
    for (const GetterRow& row : kGetters) {
        SCOPED_TRACE(row.apiName);
        for (const auto& failure : failures) {
            fake.setResult<SdkIntResult>(row.exportName, {55, failure.code});
            EXPECT_EQ(ask(row.apiName), intAnswer(row.apiName, failure.code, failure.info, -1));
        }
    }
}

struct SetterRow {
    const char* apiName;
    const char* exportName;
    const char* key;
    const char* info;
};

const SetterRow kSetters[] = {
    {"setPrintDensity", "setPrintDensity", "nDensity", "set print density ok!"},
    {"setPrintSpeed", "setPrintSpeed", "nSpeed", "set print speed ok!"},
    {"setPrintMode", "setPrintMode", "nType", "set print mode ok!"},
    {"setLabelType", "setLabelType", "nType", "set print labelType ok!"},
    {"setPrintLabelType", "setLabelType", "nType", "set print labelType ok!"},
    {"setLanguageType", "setLanguageType", "nType", "set language type ok!"},
    {"setPrinterLanguageType", "setLanguageType", "nType", "set language type ok!"},
    {"setAutoShutDownTime", "setAutoShutDownTime", "nType", "set auto shutdown time ok!"},
    {"setPrinterAutoShutDownTimeApi", "setAutoShutDownTime", "nType", "set auto shutdown time ok!"},
    {"setDeviceVoice", "setDeviceVoice", "nLevel", "set device voice ok!"},
    {"setHalfCut", "setHalfCut", "halfCutDepth", "set printer halfCut depth success!"},
    {"setTubeAdjustLength", "setTubeAdjustLength", "actualLength", "set printer tube adjust length success!"},
};

std::string withKey(const std::string& pattern, const std::string& key) {
    std::string text = pattern;
    for (size_t at = text.find("KEY"); at != std::string::npos; at = text.find("KEY", at + key.size())) {
        text.replace(at, 3, key);
    }
    return text;
}

class IntegerSetterTest : public SettingsServiceTest {};

TEST_F(IntegerSetterTest, WholeNumbersReachTheSdkUnchanged) {
    const struct {
        const char* value;
        double sent;
    } accepted[] = {{"3", 3},       {"3.0", 3},  {"-1", -1},
                    {"0", 0},       {"1e2", 100}, {"2147483647", 2147483647.0},
                    {"-2147483648", -2147483648.0}};
    for (const SetterRow& row : kSetters) {
        SCOPED_TRACE(row.apiName);
        for (const auto& value : accepted) {
            SCOPED_TRACE(value.value);
            fake.clearCalls();
            EXPECT_EQ(ask(row.apiName, withKey(R"({"KEY":)", row.key) + value.value + "}"),
                      intAnswer(row.apiName, 0, row.info, 0));
            ASSERT_EQ(callTrace(), row.exportName);
            // The tube length is handed over as a float, which rounds the largest whole numbers.
            const bool asFloat = std::string(row.exportName) == "setTubeAdjustLength";
            EXPECT_EQ(fake.lastArgs(row.exportName)[0].asDouble(),
                      asFloat ? static_cast<double>(static_cast<float>(value.sent)) : value.sent);
        }
    }
}

TEST_F(IntegerSetterTest, AnythingButAWholeNumberUnderTheKeyIsRefusedWithoutAnSdkCall) {
    const char* const refusedParameters[] = {
        R"({"KEY":3.5})",        R"({"KEY":"3"})",        R"({"KEY":true})",  R"({"KEY":false})",
        R"({"KEY":2147483648})", R"({"KEY":-2147483649})", R"({"KEY":1e10})",  R"({"KEY":null})",
        R"({"KEY":[3]})",        R"({"KEY":{"KEY":3}})",  R"({})",            R"({"other":3})",
        "5",                     R"([{"KEY":3}])",        R"("KEY")",         "null",
        "true",
    };
    for (const SetterRow& row : kSetters) {
        SCOPED_TRACE(row.apiName);
        for (const char* parameter : refusedParameters) {
            SCOPED_TRACE(parameter);
            fake.clearCalls();
            EXPECT_EQ(ask(row.apiName, withKey(parameter, row.key)), parameterError(row.apiName));
            EXPECT_EQ(callTrace(), "");
        }
        // No "parameter" at all, and the key beside it instead of inside it.
        EXPECT_EQ(ask(row.apiName), parameterError(row.apiName));
        EXPECT_EQ(askText(withKey(R"({"apiName":")" + std::string(row.apiName) + R"(","KEY":3})", row.key)),
                  parameterError(row.apiName));
        EXPECT_EQ(callTrace(), "");
    }
}

TEST_F(IntegerSetterTest, SdkFailuresArePassedOnWithTheirMessage) {
    for (const SetterRow& row : kSetters) {
        SCOPED_TRACE(row.apiName);
        const std::string parameter = withKey(R"({"KEY":2})", row.key);
        fake.setResult<SdkStatus>(row.exportName, -4);
        EXPECT_EQ(ask(row.apiName, parameter), intAnswer(row.apiName, -4, "printer disconnect", -1));
        fake.setResult<SdkStatus>(row.exportName, -2);
        EXPECT_EQ(ask(row.apiName, parameter), intAnswer(row.apiName, -2, "printer busy", -1));
        fake.setResult<SdkStatus>(row.exportName, 12);
        EXPECT_EQ(ask(row.apiName, parameter), intAnswer(row.apiName, 12, "", -1));
    }
}

TEST_F(IntegerSetterTest, ExamplesAnswerByteForByte) {
    fake.setResult<SdkIntResult>("getLabelType", {1, 0});
    EXPECT_EQ(ask("getPrintLabelType"),
              "{\"apiName\":\"getPrintLabelType\",\"resultAck\":{\"errorCode\":0,\"info\":\"getLabelType success\","
              "\"result\":1}}\n");
    EXPECT_EQ(ask("setPrintDensity", R"({"nDensity":"3"})"),
              "{\"apiName\":\"setPrintDensity\",\"resultAck\":{\"errorCode\":26,\"info\":\"parameter error!\","
              "\"result\":-1}}\n");
    fake.setResult<SdkStatus>("setPrintSpeed", -4);
    EXPECT_EQ(ask("setPrintSpeed", R"({"nSpeed":2})"),
              "{\"apiName\":\"setPrintSpeed\",\"resultAck\":{\"errorCode\":-4,\"info\":\"printer disconnect\","
              "\"result\":-1}}\n");
    EXPECT_EQ(ask("setPrintDensity", R"({"nDensity":3})"),
              "{\"apiName\":\"setPrintDensity\",\"resultAck\":{\"errorCode\":0,\"info\":\"set print density ok!\","
              "\"result\":0}}\n");
}

// The SDK takes the tube length as a float; the other settings as int32.
TEST_F(IntegerSetterTest, TheTubeLengthReachesTheSdkAsAFloat) {
    ask("setHalfCut", R"({"halfCutDepth":3.0})");
    EXPECT_TRUE(fake.lastArgs("setHalfCut")[0].isInt());
    EXPECT_EQ(ask("setTubeAdjustLength", R"({"actualLength":12})"),
              intAnswer("setTubeAdjustLength", 0, "set printer tube adjust length success!", 0));
    const Json::Value sent = fake.lastArgs("setTubeAdjustLength")[0];
    EXPECT_TRUE(sent.isDouble());
    EXPECT_EQ(sent.asDouble(), 12.0);
    // Beyond float's 24-bit mantissa the whole number is rounded as float rounds it.
    ask("setTubeAdjustLength", R"({"actualLength":16777217})");
    EXPECT_EQ(fake.lastArgs("setTubeAdjustLength")[0].asDouble(), 16777216.0);
    fake.clearCalls();
    EXPECT_EQ(ask("setTubeAdjustLength", R"({"actualLength":12.5})"), parameterError("setTubeAdjustLength"));
    EXPECT_EQ(callTrace(), "");
}

}  // namespace
