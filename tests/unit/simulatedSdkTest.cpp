// The simulated printer SDK, loaded from the build's bin folder through the service's own
// loader: its default world, the connection check, kept settings, the scenario, the trace and
// the ownership of what it hands out.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "kvPrinter/printerSdkBinding.h"

namespace {

std::vector<Json::Value> readTrace(const std::string& path) {
    std::ifstream file(path);
    std::vector<Json::Value> lines;
    for (std::string line; std::getline(file, line);) {
        Json::Value v;
        Json::Reader().parse(line, v);
        lines.push_back(v);
    }
    return lines;
}

std::atomic<int> lastEventType{-1};
std::atomic<int> lastEventValue{-1};
std::atomic<bool> eventOnOtherThread{false};
std::thread::id testThread;

void recordEvent(void* payload, int32_t type) {
    if (type >= 2 && type <= 7) lastEventValue = static_cast<StatusValueInfo*>(payload)->value;
    eventOnOtherThread = std::this_thread::get_id() != testThread;
    lastEventType = type;
}

class SimulatedSdkTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string base = std::string(KV_TEST_DIR) + "/simsdk-" + std::to_string(getpid()) + "-" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        tracePath = base + ".trace";
        scenarioPath = base + ".json";
        std::remove(tracePath.c_str());
        setenv("KVSIM_TRACE", tracePath.c_str(), 1);
        unsetenv("KVSIM_SCENARIO");
    }
    void TearDown() override {
        if (printerSdkLoaded()) {
            printerSdk.unInitSdk();
            unloadPrinterSdk();
        }
        unsetenv("KVSIM_TRACE");
        unsetenv("KVSIM_SCENARIO");
    }
    void writeScenario(const std::string& json) {
        std::ofstream(scenarioPath) << json;
        setenv("KVSIM_SCENARIO", scenarioPath.c_str(), 1);
    }
    void start() {
        ASSERT_TRUE(loadPrinterSdk(std::string(KV_BIN_DIR) + "/libkvPrinterSdk.so"));
        printerSdk.initSdk();
    }
    UsbPrinterInfo usb(const char* name) {
        UsbPrinterInfo p{};
        std::strncpy(p.name, name, sizeof p.name - 1);
        return p;
    }

    std::string tracePath;
    std::string scenarioPath;
};

TEST_F(SimulatedSdkTest, PrinterExportsAnswerDisconnectedUntilAPrinterIsConnected) {
    start();
    EXPECT_EQ(printerSdk.getPrintDensity().errorCode, -4);
    EXPECT_EQ(printerSdk.setPrintDensity(3), -4);
    EXPECT_EQ(printerSdk.connectUsbPrinter(usb("no such printer")), -1);
    EXPECT_EQ(printerSdk.connectUsbPrinter(usb("KV-USB-01")), 0);
    const SdkIntResult density = printerSdk.getPrintDensity();
    EXPECT_EQ(density.errorCode, 0);
    EXPECT_EQ(printerSdk.setPrintDensity(12), 0);
    EXPECT_EQ(printerSdk.getPrintDensity().value, 12);
    printerSdk.closePrinter();
    EXPECT_EQ(printerSdk.getPrintDensity().errorCode, -4);
}

TEST_F(SimulatedSdkTest, DefaultWorldHasOnePrinterOfEachKind) {
    start();
    UsbPrinterInfo* usbList = nullptr;
    WifiPrinterInfo* wifiList = nullptr;
    BluetoothPrinterInfo* btList = nullptr;
    int32_t usbCount = 0, wifiCount = 0, btCount = 0;
    printerSdk.getUsbPrinter(&usbList, &usbCount);
    printerSdk.getWifiPrinter(&wifiList, &wifiCount);
    printerSdk.getBluetoothPrinter(&btList, &btCount);
    ASSERT_EQ(usbCount, 1);
    ASSERT_EQ(wifiCount, 1);
    ASSERT_EQ(btCount, 1);
    EXPECT_STREQ(usbList[0].name, "KV-USB-01");
    EXPECT_STREQ(wifiList[0].ip, "192.168.1.50");
    EXPECT_EQ(wifiList[0].tcpPort, 9100);
    EXPECT_STREQ(btList[0].mac, "00:11:22:33:44:55");
    EXPECT_EQ(printerSdk.getMultiple().multiple, 8.0);
    printerSdk.freeData(usbList);
    printerSdk.freeData(wifiList);
    printerSdk.freeData(btList);
}

TEST_F(SimulatedSdkTest, TraceRecordsEveryCallAndWhetherFreedPointersWereItsOwn) {
    start();
    printerSdk.connectUsbPrinter(usb("KV-USB-01"));
    SdkTextResult sn = printerSdk.getDeviceSn();
    ASSERT_NE(sn.data, nullptr);
    EXPECT_STREQ(sn.data, "KV2026000001");
    printerSdk.freeData(sn.data);
    printerSdk.freeData(sn.data);  // given back twice: no longer its own
    char foreign[4] = "abc";
    printerSdk.freeData(foreign);
    printerSdk.setKeyFunction(2, 7);

    const std::vector<Json::Value> trace = readTrace(tracePath);
    ASSERT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace[0]["fn"].asString(), "initSdk");
    EXPECT_EQ(trace[0]["lib"].asString(), "sdk");
    EXPECT_EQ(trace[1]["fn"].asString(), "connectUsbPrinter");
    EXPECT_EQ(trace[1]["args"][0]["name"].asString(), "KV-USB-01");
    EXPECT_EQ(trace[2]["fn"].asString(), "getDeviceSn");
    EXPECT_EQ(trace[3]["fn"].asString(), "freeData");
    EXPECT_TRUE(trace[3]["args"][0].asBool());
    EXPECT_FALSE(trace[4]["args"][0].asBool());
    EXPECT_FALSE(trace[5]["args"][0].asBool());
    EXPECT_EQ(trace[6]["args"][0].asInt(), 2);
    EXPECT_EQ(trace[6]["args"][1].asInt(), 7);
}

TEST_F(SimulatedSdkTest, ScenarioOverridesTheWorld) {
    writeScenario(R"({
        "usbPrinters": [{"name": "A", "port": 3}, {"name": "B", "port": 4}],
        "usbEmptyScans": 1,
        "multiple": 11.81,
        "status": {"getPrintSpeed": -2, "getDeviceSn": 7, "getPrinterHighLevelInfo": -2},
        "values": {"getPrintDensity": 6, "getDeviceSn": "SN-X", "getHalfCutSupport": [20, 2]}
    })");
    start();
    UsbPrinterInfo* list = nullptr;
    int32_t count = 0;
    printerSdk.getUsbPrinter(&list, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list, nullptr);
    printerSdk.getUsbPrinter(&list, &count);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(list[1].name, "B");
    EXPECT_EQ(list[1].port, 4);
    printerSdk.freeData(list);
    EXPECT_DOUBLE_EQ(printerSdk.getMultiple().multiple, 11.81);

    ASSERT_EQ(printerSdk.connectUsbPrinter(usb("A")), 0);
    EXPECT_EQ(printerSdk.getPrintSpeed().errorCode, -2);
    EXPECT_EQ(printerSdk.getPrintDensity().value, 6);
    const SdkPairResult halfCut = printerSdk.getHalfCutSupport();
    EXPECT_EQ(halfCut.first, 20);
    EXPECT_EQ(halfCut.second, 2);
    // A failing text getter still hands out its text.
    SdkTextResult sn = printerSdk.getDeviceSn();
    EXPECT_EQ(sn.errorCode, 7);
    ASSERT_NE(sn.data, nullptr);
    EXPECT_STREQ(sn.data, "SN-X");
    printerSdk.freeData(sn.data);
    // But the high-level information, whose text the caller takes only on success, hands out none.
    const SdkTextResult info = printerSdk.getPrinterHighLevelInfo();
    EXPECT_EQ(info.errorCode, -2);
    EXPECT_EQ(info.data, nullptr);
}

TEST_F(SimulatedSdkTest, ScenarioEventsArriveOnTheSdksThreadAfterTheirExport) {
    writeScenario(R"({"events": [{"after": "getPrintMode", "delayMs": 20, "type": 3, "value": 1}]})");
    start();
    testThread = std::this_thread::get_id();
    lastEventType = -1;
    printerSdk.registCallback(&recordEvent);
    printerSdk.getPrintDensity();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(lastEventType, -1);
    printerSdk.getPrintMode();
    for (int i = 0; i < 200 && lastEventType == -1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(lastEventType, 3);
    EXPECT_EQ(lastEventValue, 1);
    EXPECT_TRUE(eventOnOtherThread);
    // Raised once only.
    lastEventType = -1;
    printerSdk.getPrintMode();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(lastEventType, -1);
}

TEST_F(SimulatedSdkTest, ScenarioDelaySlowsItsExport) {
    writeScenario(R"({"delayMs": {"getSdkVersion": 150}})");
    start();
    const auto begin = std::chrono::steady_clock::now();
    SdkTextResult version = printerSdk.getSdkVersion();
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(elapsed, std::chrono::milliseconds(150));
    EXPECT_STREQ(version.data, "V2.1.0");
    printerSdk.freeData(version.data);
}

TEST_F(SimulatedSdkTest, RandomFaultsFailOnlyTheListedExportsAndAreTraced) {
    writeScenario(R"({"randomFaults": {"seed": 3, "failPercent": 100, "codes": [-2, -3],
                                      "exports": ["getPrintMode"]}})");
    start();
    ASSERT_EQ(printerSdk.connectUsbPrinter(usb("KV-USB-01")), 0);
    for (int i = 0; i < 8; ++i) {
        const SdkIntResult mode = printerSdk.getPrintMode();
        EXPECT_TRUE(mode.errorCode == -2 || mode.errorCode == -3) << mode.errorCode;
    }
    EXPECT_EQ(printerSdk.getPrintDensity().errorCode, 0);
    int faults = 0;
    for (const Json::Value& line : readTrace(tracePath)) {
        if (line["fn"] != "randomFault") continue;
        ++faults;
        EXPECT_EQ(line["args"][0], "getPrintMode");
    }
    EXPECT_EQ(faults, 8);
}

TEST_F(SimulatedSdkTest, RandomFaultsNeverFailAtZeroPercent) {
    writeScenario(R"({"randomFaults": {"failPercent": 0, "codes": [-2]}})");
    start();
    ASSERT_EQ(printerSdk.connectUsbPrinter(usb("KV-USB-01")), 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(printerSdk.getPrintMode().errorCode, 0);
}

TEST_F(SimulatedSdkTest, RandomEventsArriveOnlyWhileAPrinterIsConnected) {
    writeScenario(R"({"randomFaults": {"eventEveryMs": 5, "eventTypes": [4]}})");
    testThread = std::this_thread::get_id();
    lastEventType = -1;
    start();
    printerSdk.registCallback(&recordEvent);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(lastEventType, -1);
    ASSERT_EQ(printerSdk.connectUsbPrinter(usb("KV-USB-01")), 0);
    for (int i = 0; i < 2000 && lastEventType == -1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(lastEventType, 4);
    EXPECT_TRUE(eventOnOtherThread);
}

}  // namespace
