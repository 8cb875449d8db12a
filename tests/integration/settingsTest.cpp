// Settings over a real connection, against the simulated printer: what is set is what is read
// back, a printer's failure reaches the client with its code and text, and requests whose values
// cannot be used are refused before the printer is asked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/e2eFixture.h"

namespace {

using e2e::envelope;
using e2e::object;

class Settings : public e2e::E2eTest {
protected:
    void connectUsb() {
        ASSERT_NE(ask("connetUsbPrinter", object({{"printerName", "KV-USB-01"}, {"port", 1}})).find("onConnectSuccess"),
                  std::string::npos);
    }
};

// {"apiName":name,"resultAck":{"errorCode":0,"info":info,"result":"<text>"}}: a text result.
std::string textAnswer(const std::string& apiName, const std::string& result, const std::string& info) {
    Json::Value ack(Json::objectValue);
    ack["errorCode"] = 0;
    ack["info"] = info;
    ack["result"] = result;
    return Json::FastWriter().write(object({{"apiName", apiName}, {"resultAck", ack}}));
}

TEST_F(Settings, EachIntegerSettingKeepsWhatIsSetUnderEveryNameItGoesBy) {
    start();
    connectUsb();
    struct Case {
        const char* setter;
        const char* key;
        int value;
        const char* setInfo;
        const char* getter;
        int before;
        const char* getInfo;
    };
    const Case cases[] = {
        {"setPrintDensity", "nDensity", 5, "set print density ok!", "getPrintDensity", 8, "getPrintDensity success"},
        {"setPrintSpeed", "nSpeed", 4, "set print speed ok!", "getPrintSpeed", 3, "getPrintSpeed success"},
        {"setPrintMode", "nType", 2, "set print mode ok!", "getPrintMode", 1, "getPrintMode success"},
        {"setPrintLabelType", "nType", 3, "set print labelType ok!", "getPrintLabelType", 1, "getLabelType success"},
        {"setLabelType", "nType", 2, "set print labelType ok!", "getLabelType", 3, "getLabelType success"},
        {"setPrinterLanguageType", "nType", 2, "set language type ok!", "getLanguageType", 1,
         "get language type success!"},
        {"setPrinterAutoShutDownTimeApi", "nType", 60, "set auto shutdown time ok!", "getPrinterAutoShutDownTime", 30,
         "get auto shutdown time success!"},
        {"setDeviceVoice", "nLevel", 0, "set device voice ok!", "getDeviceVoice", 2, "get device voice success!"},
        {"setHalfCut", "halfCutDepth", 7, "set printer halfCut depth success!", "getHalfCut", 5,
         "get printer halfCut depth success!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setter);
        EXPECT_EQ(ask(c.getter), envelope(c.getter, c.before, c.getInfo, 0));
        EXPECT_EQ(ask(c.setter, object({{c.key, c.value}})), envelope(c.setter, 0, c.setInfo, 0));
        EXPECT_EQ(ask(c.getter), envelope(c.getter, c.value, c.getInfo, 0));
    }
}

TEST_F(Settings, TheClockKeyFunctionsAndWifiNetworkKeepWhatIsSet) {
    start();
    connectUsb();
    EXPECT_EQ(ask("setPrinterTime", object({{"year", 2026}, {"month", 3}, {"day", 4}, {"hour", 9}, {"minute", 30},
                                            {"second", 15}})),
              envelope("setPrinterTime", 0, "set printer time ok!", 0));
    EXPECT_EQ(ask("getPrinterTime"), textAnswer("getPrinterTime",
                                                "{\"day\":4,\"hour\":9,\"minute\":30,\"month\":3,\"second\":15,"
                                                "\"year\":2026}\n",
                                                "get printer time success!"));

    EXPECT_EQ(ask("setKeyFunction", object({{"keyIndex", 1}, {"functionValue", 5.7}})),
              envelope("setKeyFunction", 0, "set printer key function ok!", 0));
    EXPECT_EQ(ask("getKeyFunction"),
              textAnswer("getKeyFunction", "[{\"functionValue\":1,\"keyIndex\":0},{\"functionValue\":5,\"keyIndex\":1}]\n",
                         "get printer key function success!"));

    EXPECT_EQ(ask("getWifiConfiguration"), textAnswer("getWifiConfiguration", "KV-Office", "get Device wifi success!"));
    EXPECT_EQ(ask("configurationWifi", object({{"wifiName", "Lab-5G"}, {"wifiPassword", "secret"}})),
              envelope("configurationWifi", 0, "set printer wifi success!", 0));
    EXPECT_EQ(ask("getDeviceWifi"), textAnswer("getDeviceWifi", "Lab-5G", "get Device wifi success!"));
    EXPECT_EQ(e2e::compact(e2e::traceArgs(service(), "setDeviceWifi").back()[0]),
              R"({"wifiName":"Lab-5G","wifiPassword":"secret"})");
    // The texts the printer handed out all came back to it.
    for (const Json::Value& args : e2e::traceArgs(service(), "freeData")) EXPECT_EQ(args[0], Json::Value(true));
}

TEST_F(Settings, APrintersFailureIsAnsweredWithItsCodeAndTextAndChangesNothing) {
    start(R"({"status":{"setPrintSpeed":-2,"getPrintDensity":-3,"getDeviceSn":-1,"getSoftWareVersion":-4,
                       "setKeyFunction":7},
              "values":{"getElectricity":35,"getDeviceSn":"SN-TEST","getHardWareVersion":"HW-9"}})");
    connectUsb();
    struct Case {
        const char* apiName;
        Json::Value parameter;
        std::string answer;
    };
    const Case cases[] = {
        {"setPrintSpeed", object({{"nSpeed", 1}}), envelope("setPrintSpeed", -1, "printer busy", -2)},
        {"getPrintSpeed", Json::Value(), envelope("getPrintSpeed", 3, "getPrintSpeed success", 0)},
        {"getPrintDensity", Json::Value(), envelope("getPrintDensity", -1, "no support", -3)},
        // The serial number fails with an integer 0, the versions with the text "0.00".
        {"getPrinterSn", Json::Value(), envelope("getPrinterSn", 0, "fail", -1)},
        {"getSoftWareVersion", Json::Value(),
         R"({"apiName":"getSoftWareVersion","resultAck":{"errorCode":-4,"info":"printer disconnect","result":"0.00"}})"
         "\n"},
        {"getPrinterHardwareVersion", Json::Value(),
         textAnswer("getPrinterHardwareVersion", "HW-9", "get hardware version success!")},
        // A code the table lacks leaves the text empty.
        {"setKeyFunction", object({{"keyIndex", 0}, {"functionValue", 3}}), envelope("setKeyFunction", -1, "", 7)},
        {"getPower", Json::Value(), envelope("getPower", 35, "get device electricity success!", 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.apiName);
        EXPECT_EQ(ask(c.apiName, c.parameter), c.answer);
    }
}

TEST_F(Settings, WithoutAPrinterTheSettingsAreAnsweredPrinterDisconnect) {
    start();
    EXPECT_EQ(ask("setPrintSpeed", object({{"nSpeed", 2}})), envelope("setPrintSpeed", -1, "printer disconnect", -4));
    EXPECT_EQ(ask("getElectricity"), envelope("getElectricity", -1, "printer disconnect", -4));
    EXPECT_TRUE(service().waitForStderr("[INFO]:-4,printer disconnect"));
}

TEST_F(Settings, ValuesThatCannotBeUsedAreRefusedWithoutAskingThePrinter) {
    start();
    connectUsb();
    const char* refused[] = {
        R"({"apiName":"setPrintDensity","parameter":{"nDensity":"3"}})",
        R"({"apiName":"setPrintDensity","parameter":{"nDensity":3.5}})",
        R"({"apiName":"setPrintDensity","parameter":{"nDensity":true}})",
        R"({"apiName":"setPrintDensity","parameter":{"nDensity":2147483648}})",
        R"({"apiName":"setPrintDensity","parameter":{"nDensity":null}})",
        R"({"apiName":"setPrintDensity","parameter":5})",
        R"({"apiName":"setPrintDensity"})",
        R"({"apiName":"setTubeAdjustLength","parameter":{"actualLength":12.5}})",
        R"({"apiName":"setKeyFunction","parameter":{"keyIndex":"2"}})",
        R"({"apiName":"setPrinterTime","parameter":{"hour":[9]}})",
        R"({"apiName":"setDeviceWifi","parameter":{"wifiName":{"n":1}}})",
    };
    for (const char* request : refused) {
        SCOPED_TRACE(request);
        ASSERT_TRUE(session->send(request));
        const std::string apiName = e2e::parseJson(request)["apiName"].asString();
        const std::optional<e2e::Message> answer = session->waitFor(e2e::answerTo(apiName));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->text, envelope(apiName, -1, "parameter error!", 26));
    }
    for (const char* fn : {"setPrintDensity", "setTubeAdjustLength", "setKeyFunction", "setPrinterTime", "setDeviceWifi"}) {
        EXPECT_TRUE(e2e::traceArgs(service(), fn).empty()) << fn << " reached the printer";
    }
    // 3.0 is a whole number: it goes to the printer as 3.
    EXPECT_EQ(ask("setPrintDensity", object({{"nDensity", 3.0}})),
              envelope("setPrintDensity", 0, "set print density ok!", 0));
    EXPECT_EQ(e2e::traceArgs(service(), "setPrintDensity"), std::vector<Json::Value>{e2e::parseJson("[3]")});
}

}  // namespace
