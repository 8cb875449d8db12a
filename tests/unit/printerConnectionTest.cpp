// Finding and connecting printers through the fake SDK: how often each scan asks the SDK, the
// exact answers (the hand-built USB printer text included), the kept Wi-Fi list and where the
// Wi-Fi connect takes its address from, the records the connects fill, the close answer, and
// requests whose values have the wrong JSON type, which never reach the SDK.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/logCapture.h"

namespace {

// A scan export that hands out the next of its prepared answers (the last one repeats) as
// SDK-owned memory, and records the call.
template <typename Record>
struct ScanFake {
    static inline const char* name = "";
    static inline std::vector<std::vector<Record>> answers;
    static inline size_t calls = 0;
    static inline bool handOutWhenEmpty = false;  // an SDK that gives a list even with no printer
    static inline int32_t forcedCount = 0;        // when not 0, the count reported instead

    static void reset(const char* exportName) {
        name = exportName;
        answers = {{}};
        calls = 0;
        handOutWhenEmpty = false;
        forcedCount = 0;
    }
    static void scan(Record** list, int32_t* count) {
        FakePrinterSdk::instance().record(name, Json::Value(Json::arrayValue));
        const std::vector<Record>& answer = answers[std::min(calls++, answers.size() - 1)];
        const bool handOut = !answer.empty() || handOutWhenEmpty;
        *list = handOut ? static_cast<Record*>(FakePrinterSdk::instance().handOut(answer.data(),
                                                                                  answer.size() * sizeof(Record)))
                        : nullptr;
        *count = forcedCount != 0 ? forcedCount : static_cast<int32_t>(answer.size());
    }
};

UsbPrinterInfo usb(const std::string& name, int32_t port) {
    UsbPrinterInfo p{};
    std::memcpy(p.name, name.data(), std::min(name.size(), sizeof p.name));
    p.port = port;
    return p;
}

WifiPrinterInfo wifi(const std::string& ip, const std::string& name, int32_t client, int32_t port) {
    WifiPrinterInfo p{};
    std::memcpy(p.ip, ip.data(), std::min(ip.size(), sizeof p.ip - 1));
    std::memcpy(p.name, name.data(), std::min(name.size(), sizeof p.name - 1));
    p.avaliableClient = client;
    p.tcpPort = port;
    return p;
}

BluetoothPrinterInfo bluetooth(const std::string& name, const std::string& mac, int32_t rssi) {
    BluetoothPrinterInfo p{};
    std::memcpy(p.name, name.data(), std::min(name.size(), sizeof p.name - 1));
    std::memcpy(p.mac, mac.data(), std::min(mac.size(), sizeof p.mac - 1));
    p.rssi = rssi;
    return p;
}

Json::Value parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(Json::Reader().parse(text, v)) << text;
    return v;
}

class PrinterConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScanFake<UsbPrinterInfo>::reset("getUsbPrinter");
        ScanFake<WifiPrinterInfo>::reset("getWifiPrinter");
        ScanFake<BluetoothPrinterInfo>::reset("getBluetoothPrinter");
        printerSdk.getUsbPrinter = &ScanFake<UsbPrinterInfo>::scan;
        printerSdk.getWifiPrinter = &ScanFake<WifiPrinterInfo>::scan;
        printerSdk.getBluetoothPrinter = &ScanFake<BluetoothPrinterInfo>::scan;
        fake.clearCalls();
    }
    std::string ask(const std::string& text) { return service.answerRequest(text).value_or("<no answer>"); }
    std::string ask(const std::string& apiName, const std::string& parameter) {
        return ask(R"({"apiName":")" + apiName + R"(","parameter":)" + parameter + "}");
    }
    std::string askName(const std::string& apiName) { return ask(R"({"apiName":")" + apiName + R"("})"); }

    FakePrinterSdk& fake = FakePrinterSdk::instance();
    cKvPrinterService service{&FakePrinterSdk::load};
};

// ---- USB scan ----

TEST_F(PrinterConnectionTest, UsbScanAsksThreeTimesThenAnswersNoDevice) {
    EXPECT_EQ(askName("getUsbPrinter"),
              R"({"apiName":"getUsbPrinter","resultAck":{"errorCode":23,"info":"no device","result":"false"}})" "\n");
    EXPECT_EQ(fake.callCount("getUsbPrinter"), 3);
    EXPECT_EQ(fake.callCount("freeData"), 0);  // nothing handed out, nothing given back
}

TEST_F(PrinterConnectionTest, UsbScanGivesBackListsHandedOutWithEmptyScans) {
    ScanFake<UsbPrinterInfo>::handOutWhenEmpty = true;
    ScanFake<UsbPrinterInfo>::answers = {{}, {}, {usb("P", 1)}};
    EXPECT_EQ(parse(askName("getUsbPrinter"))["resultAck"]["result"].asString(), "true");
    EXPECT_EQ(fake.callCount("getUsbPrinter"), 3);
    EXPECT_TRUE(fake.allGivenBack());

    ScanFake<UsbPrinterInfo>::answers = {{}};
    askName("getUsbPrinter");
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(PrinterConnectionTest, UsbScanStopsAtTheCallThatFinds) {
    ScanFake<UsbPrinterInfo>::answers = {{}, {usb("KV-1", 3)}};
    LogCapture log;
    EXPECT_EQ(askName("getUsbPrinter"),
              R"({"apiName":"getUsbPrinter","resultAck":{"deviceInfos":{"commPort":3,"deviceName":"KV-1"},)"
              R"("errorCode":0,"info":"{\"KV-1\":\"3\"}","result":"true"}})" "\n");
    EXPECT_EQ(fake.callCount("getUsbPrinter"), 2);
    EXPECT_EQ(fake.callCount("freeData"), 1);
    EXPECT_TRUE(fake.allGivenBack());
    EXPECT_FALSE(log.contains("make result: "));  // unlike the other scans' answers
}

TEST_F(PrinterConnectionTest, UsbScanListsEveryPrinterButKeepsTheLastInDeviceInfos) {
    ScanFake<UsbPrinterInfo>::answers = {{usb("A", 1), usb("B", 22), usb("C", 333)}};
    const Json::Value answer = parse(ask(R"({"apiName":"getAllPrinters"})"));
    EXPECT_EQ(answer["apiName"].asString(), "getAllPrinters");
    EXPECT_EQ(answer["resultAck"]["info"].asString(), R"({"A":"1","B":"22","C":"333"})");
    EXPECT_EQ(answer["resultAck"]["deviceInfos"]["deviceName"].asString(), "C");
    EXPECT_TRUE(answer["resultAck"]["deviceInfos"]["commPort"].isInt());
    EXPECT_EQ(answer["resultAck"]["deviceInfos"]["commPort"].asInt(), 333);
    EXPECT_EQ(fake.callCount("getUsbPrinter"), 1);
}

TEST_F(PrinterConnectionTest, UsbPrinterNamesGoIntoThePrinterTextUnescaped) {
    ScanFake<UsbPrinterInfo>::answers = {{usb("Say \"hi\"", 7)}};
    const std::string text = askName("getUsbPrinter");
    const Json::Value answer = parse(text);  // the answer is JSON; the printer text inside is not
    const std::string printers = answer["resultAck"]["info"].asString();
    EXPECT_EQ(printers, "{\"Say \"hi\"\":\"7\"}");
    Json::Value inner;
    EXPECT_FALSE(Json::Reader().parse(printers, inner));
    EXPECT_EQ(answer["resultAck"]["deviceInfos"]["deviceName"].asString(), "Say \"hi\"");
}

TEST_F(PrinterConnectionTest, ScansAnswerNoDeviceForANegativeCount) {
    ScanFake<UsbPrinterInfo>::answers = {{usb("A", 1)}};
    ScanFake<UsbPrinterInfo>::forcedCount = -2;
    ScanFake<WifiPrinterInfo>::answers = {{wifi("1.1.1.1", "W", 0, 1)}};
    ScanFake<WifiPrinterInfo>::forcedCount = -1;
    ScanFake<BluetoothPrinterInfo>::answers = {{bluetooth("B", "m", 0)}};
    ScanFake<BluetoothPrinterInfo>::forcedCount = -1;
    EXPECT_EQ(parse(askName("getUsbPrinter"))["resultAck"]["info"].asString(), "no device");
    EXPECT_EQ(parse(askName("getWifiPrinter"))["resultAck"]["info"].asString(), "no device");
    EXPECT_EQ(parse(askName("getBluetoothPrinter"))["resultAck"]["info"].asString(), "no device");
    EXPECT_TRUE(service.wifiPrinters.empty());
    EXPECT_TRUE(fake.allGivenBack());
}

// ---- Wi-Fi and Bluetooth scans ----

TEST_F(PrinterConnectionTest, WifiAndBluetoothScansAskOnceEvenWhenEmpty) {
    EXPECT_EQ(askName("getWifiPrinter"),
              R"({"apiName":"getWifiPrinter","resultAck":{"errorCode":23,"info":"no device","result":-1}})" "\n");
    EXPECT_EQ(askName("getBluetoothPrinter"),
              R"({"apiName":"getBluetoothPrinter","resultAck":{"errorCode":23,"info":"no device","result":"false"}})"
              "\n");
    EXPECT_EQ(fake.callCount("getWifiPrinter"), 1);
    EXPECT_EQ(fake.callCount("getBluetoothPrinter"), 1);
}

TEST_F(PrinterConnectionTest, WifiScanAnswersEveryPrinterAndKeepsTheirRecords) {
    ScanFake<WifiPrinterInfo>::answers = {{wifi("10.0.0.2", "W1", 1, 9100), wifi("10.0.0.3", "W2", 0, 9200)}};
    LogCapture log;
    const std::string text = ask(R"({"apiName":"scanWifiPrinter"})");
    EXPECT_EQ(text, R"({"apiName":"scanWifiPrinter","resultAck":{"errorCode":0,"info":[)"
                    R"({"IP":"10.0.0.2","avaliableClient":1,"deviceName":"W1","tcpPort":9100},)"
                    R"({"IP":"10.0.0.3","avaliableClient":0,"deviceName":"W2","tcpPort":9200}],"result":"true"}})"
                    "\n");
    EXPECT_TRUE(log.contains("[INFO]:make result: " + text));
    ASSERT_EQ(service.wifiPrinters.size(), 2u);
    EXPECT_STREQ(service.wifiPrinters[1].ip, "10.0.0.3");
    EXPECT_EQ(service.wifiPrinters[1].tcpPort, 9200);
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(PrinterConnectionTest, EachWifiScanReplacesTheKeptList) {
    ScanFake<WifiPrinterInfo>::answers = {{wifi("10.0.0.2", "W1", 1, 9100), wifi("10.0.0.3", "W2", 0, 9100)},
                                          {wifi("10.0.0.9", "W9", 2, 9100)},
                                          {}};
    askName("getWifiPrinter");
    askName("getWifiPrinter");
    ASSERT_EQ(service.wifiPrinters.size(), 1u);
    EXPECT_STREQ(service.wifiPrinters[0].name, "W9");
    askName("getWifiPrinter");
    EXPECT_TRUE(service.wifiPrinters.empty());
    // The other scans leave it alone.
    ScanFake<WifiPrinterInfo>::answers = {{wifi("10.0.0.2", "W1", 1, 9100)}};
    askName("getWifiPrinter");
    askName("getUsbPrinter");
    askName("getBluetoothPrinter");
    EXPECT_EQ(service.wifiPrinters.size(), 1u);
}

TEST_F(PrinterConnectionTest, BluetoothScanAnswersEveryPrinter) {
    ScanFake<BluetoothPrinterInfo>::answers = {{bluetooth("B1", "AA:BB", -40), bluetooth("B2", "CC:DD", -70)}};
    LogCapture log;
    const std::string text = askName("getBluetoothPrinter");
    EXPECT_EQ(text, R"({"apiName":"getBluetoothPrinter","resultAck":{"errorCode":0,"info":[)"
                    R"({"deviceName":"B1","macAddress":"AA:BB","rssi":-40},)"
                    R"({"deviceName":"B2","macAddress":"CC:DD","rssi":-70}],"result":"true"}})" "\n");
    EXPECT_TRUE(log.contains("[INFO]:make result: " + text));
    EXPECT_TRUE(service.wifiPrinters.empty());
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(PrinterConnectionTest, ConnectAnswersOnSuccess) {
    struct Case {
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        {R"({"apiName":"connetUsbPrinter","parameter":{"printerName":"P1","port":2}})",
         R"({"apiName":"connetUsbPrinter","resultAck":{"callback":{"name":"onConnectSuccess","printerName":"P1"},)"
         R"("errorCode":0,"info":"select printer ok!","result":true}})" "\n"},
        {R"({"apiName":"selectPrinter","parameter":{"printerName":"P1"}})",
         R"({"apiName":"selectPrinter","resultAck":{"callback":{"name":"onConnectSuccess","printerName":"P1"},)"
         R"("errorCode":0,"info":"select printer ok!","result":true}})" "\n"},
        {R"({"apiName":"connectWifiPrinter","parameter":{"printerName":"W1"}})",
         R"({"apiName":"connectWifiPrinter","resultAck":{"callback":{"name":"onConnectSuccess","printerName":"W1"},)"
         R"("errorCode":0,"info":"select wifi printer ok!","result":0}})" "\n"},
        {R"({"apiName":"connectBluetoothPrinter","parameter":{"printerName":"B1","macAddress":"AA"}})",
         R"({"apiName":"connectBluetoothPrinter","resultAck":{"callback":{"name":"onConnectSuccess",)"
         R"("printerName":"B1"},"errorCode":0,"info":"select bluetooth printer ok!","result":0}})" "\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ask(c.request), c.answer) << c.request;
}

TEST_F(PrinterConnectionTest, ConnectAnswersOnFailureAndWhatTheCloseThenNames) {
    fake.setResult<SdkStatus>("connectUsbPrinter", -4);
    fake.setResult<SdkStatus>("connectWifiPrinter", -2);
    fake.setResult<SdkStatus>("connectBluetoothPrinter", 9);

    EXPECT_EQ(ask("connetUsbPrinter", R"({"printerName":"P1","port":2})"),
              R"({"apiName":"connetUsbPrinter","resultAck":{"callback":{"name":"onDisConnect","printerName":"P1"},)"
              R"("errorCode":-4,"info":"printer disconnect","result":false}})" "\n");
    EXPECT_EQ(service.getPrinterName(), "");  // only a failed USB connect forgets the name
    EXPECT_EQ(parse(askName("closePrinter"))["resultAck"]["callback"]["printerName"].asString(), "");

    EXPECT_EQ(ask("connectWifiPrinter", R"({"printerName":"W1"})"),
              R"({"apiName":"connectWifiPrinter","resultAck":{"callback":{"name":"onDisConnect","printerName":"W1"},)"
              R"("errorCode":-2,"info":"printer busy","result":-1}})" "\n");
    EXPECT_EQ(parse(askName("closePrinter"))["resultAck"]["callback"]["printerName"].asString(), "W1");

    EXPECT_EQ(ask("connectBluetoothPrinter", R"({"printerName":"B1"})"),
              R"({"apiName":"connectBluetoothPrinter","resultAck":{"callback":{"name":"onDisConnect",)"
              R"("printerName":"B1"},"errorCode":9,"info":"","result":-1}})" "\n");
    EXPECT_EQ(parse(askName("closePrinter"))["resultAck"]["callback"]["printerName"].asString(), "B1");
}

TEST_F(PrinterConnectionTest, ConnectsFillTheirRecordsWithDefaultsAndCutNames) {
    ask(R"({"apiName":"connetUsbPrinter"})");
    EXPECT_EQ(fake.lastArgs("connectUsbPrinter")[0]["name"].asString(), "");
    EXPECT_EQ(fake.lastArgs("connectUsbPrinter")[0]["port"].asInt(), 0);
    EXPECT_EQ(service.getPrinterName(), "");

    const std::string longName(50, 'x');
    const Json::Value answer = parse(ask("connetUsbPrinter", R"({"printerName":")" + longName + R"(","port":4})"));
    EXPECT_EQ(fake.lastArgs("connectUsbPrinter")[0]["name"].asString(), std::string(20, 'x'));
    EXPECT_EQ(fake.lastArgs("connectUsbPrinter")[0]["port"].asInt(), 4);
    EXPECT_EQ(answer["resultAck"]["callback"]["printerName"].asString(), longName);
    EXPECT_EQ(service.getPrinterName(), longName);

    ask("connectWifiPrinter", R"({"printerName":")" + longName + R"("})");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["name"].asString(), std::string(40, 'x'));
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["tcpPort"].asInt(), 9100);
    ask("connectWifiPrinter", R"({"printerName":"W","port":515})");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["tcpPort"].asInt(), 515);

    // Numbers are taken as the JSON library converts them; null is a missing key.
    ask(R"({"apiName":"connectWifiPrinter","parameter":{"printerName":12,"port":3.9}})");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["name"].asString(), "12");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["tcpPort"].asInt(), 3);
    ask(R"({"apiName":"connectWifiPrinter","parameter":{"port":null}})");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["tcpPort"].asInt(), 9100);

    ask("connectBluetoothPrinter", R"({"printerName":")" + longName + R"(","macAddress":")" + longName + R"("})");
    const Json::Value record = fake.lastArgs("connectBluetoothPrinter")[0];
    EXPECT_EQ(record["name"].asString(), std::string(40, 'x'));
    EXPECT_EQ(record["mac"].asString(), std::string(20, 'x'));
    EXPECT_EQ(record["rssi"].asInt(), 0);
}

TEST_F(PrinterConnectionTest, WifiConnectTakesTheAddressOfTheLastMatchOfTheLastScan) {
    // Before any scan: no address.
    ask("connectWifiPrinter", R"({"printerName":"W1"})");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["ip"].asString(), "");
    EXPECT_EQ(fake.lastArgs("connectWifiPrinter")[0]["avaliableClient"].asInt(), 0);

    ScanFake<WifiPrinterInfo>::answers = {{wifi("10.0.0.1", "W1", 1, 1000), wifi("10.0.0.2", "W10", 2, 1000),
                                           wifi("10.0.0.3", "W1", 3, 1000), wifi("10.0.0.4", "W", 4, 1000)}};
    askName("getWifiPrinter");
    ask("connectWifiPrinter", R"({"printerName":"W1"})");
    Json::Value record = fake.lastArgs("connectWifiPrinter")[0];
    EXPECT_EQ(record["ip"].asString(), "10.0.0.3");
    EXPECT_EQ(record["avaliableClient"].asInt(), 3);
    EXPECT_EQ(record["tcpPort"].asInt(), 9100);  // never from the kept list

    ask("connectWifiPrinter", R"({"printerName":"W2"})");
    record = fake.lastArgs("connectWifiPrinter")[0];
    EXPECT_EQ(record["ip"].asString(), "");
    EXPECT_EQ(record["avaliableClient"].asInt(), 0);
}

TEST_F(PrinterConnectionTest, CloseAnswersTheSameWhateverTheSdkDid) {
    ask("connectBluetoothPrinter", R"({"printerName":"B1"})");
    const std::string expected =
        R"({"apiName":"closePrinter","resultAck":{"callback":{"name":"onDisConnect","printerName":"B1"},)"
        R"("result":"true"}})" "\n";
    EXPECT_EQ(askName("closePrinter"), expected);
    EXPECT_EQ(askName("closePrinter"), expected);
    EXPECT_EQ(fake.callCount("closePrinter"), 2);
    EXPECT_EQ(service.getPrinterName(), "B1");
    EXPECT_EQ(service.getCurrentApiName(), "closePrinter");
    // Called directly, as a dropped client does.
    service.setCurrentApiName("getPower");
    EXPECT_EQ(service.closePrinterApi(), expected);
    EXPECT_EQ(service.getCurrentApiName(), "closePrinter");
}

TEST_F(PrinterConnectionTest, ValuesOfTheWrongTypeAreRefusedBeforeTheSdk) {
    service.setPrinterName("kept");
    const char* const requests[] = {
        R"({"apiName":"connetUsbPrinter","parameter":{"printerName":"P","port":"1"}})",
        R"({"apiName":"connetUsbPrinter","parameter":{"printerName":{"a":1}}})",
        R"({"apiName":"connetUsbPrinter","parameter":{"printerName":"P","port":4294967296}})",
        R"({"apiName":"connetUsbPrinter","parameter":{"printerName":"P","port":[1]}})",
        R"({"apiName":"selectPrinter","parameter":[1]})",
        R"({"apiName":"connetUsbPrinter","parameter":"P"})",
        R"({"apiName":"connectWifiPrinter","parameter":{"printerName":["W"]}})",
        R"({"apiName":"connectWifiPrinter","parameter":{"printerName":"W","port":-2147483649}})",
        R"({"apiName":"connectBluetoothPrinter","parameter":{"printerName":"B","macAddress":{}}})",
        R"({"apiName":"connectBluetoothPrinter","parameter":7})",
    };
    for (const char* request : requests) {
        const Json::Value answer = parse(ask(request));
        Json::Value sent;
        Json::Reader().parse(request, sent);
        EXPECT_EQ(answer["apiName"], sent["apiName"]) << request;
        EXPECT_EQ(answer["resultAck"]["result"].asInt(), -1) << request;
        EXPECT_EQ(answer["resultAck"]["info"].asString(), "parameter error!") << request;
        EXPECT_EQ(answer["resultAck"]["errorCode"].asInt(), 26) << request;
    }
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(service.getPrinterName(), "kept");
}

// A dropped client closes the printer from the network thread while the worker connects: the
// shared name and the SDK calls stay consistent and every answer is whole.
TEST_F(PrinterConnectionTest, CloseFromAnotherThreadBesideConnects) {
    std::thread network([this] {
        for (int i = 0; i < 200; ++i) {
            service.endJobApi();
            EXPECT_EQ(parse(service.closePrinterApi())["apiName"].asString(), "closePrinter");
        }
    });
    for (int i = 0; i < 200; ++i) {
        const Json::Value answer = parse(ask("connectBluetoothPrinter", R"({"printerName":"B1"})"));
        EXPECT_EQ(answer["apiName"].asString(), "connectBluetoothPrinter");
        EXPECT_EQ(answer["resultAck"]["callback"]["printerName"].asString(), "B1");
    }
    network.join();
    EXPECT_EQ(fake.callCount("closePrinter"), 200);
    EXPECT_EQ(fake.callCount("connectBluetoothPrinter"), 200);
}

}  // namespace
