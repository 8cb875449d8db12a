// Printers over a real connection, against the simulated SDK: the three scans, the three connects
// and the close, a job started, paused, resumed, cancelled and ended while it prints, and the
// printer's events pushed to the client of the latest request, or dropped before any.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/e2eFixture.h"
#include "tests/integration/pageChecks.h"

namespace {

using e2e::envelope;
using e2e::isEvent;
using e2e::Message;
using e2e::object;
using namespace std::chrono_literals;

class Printers : public e2e::E2eTest {
protected:
    void connectUsb() {
        ASSERT_EQ(ask("connetUsbPrinter", object({{"printerName", "KV-USB-01"}, {"port", 1}})),
                  R"({"apiName":"connetUsbPrinter","resultAck":{"callback":{"name":"onConnectSuccess",)"
                  R"("printerName":"KV-USB-01"},"errorCode":0,"info":"select printer ok!","result":true}})"
                  "\n");
    }

    // A page of its own label (20 x 10 mm, one filled rectangle), committed for that many copies.
    std::string commitPage(int copies) {
        Json::Value box = rendertest::element("graph", 2, 2, 16, 6);
        box["graphType"] = 4;
        const Json::Value label = e2e::parseJson(rendertest::label(20, 10, {box}));
        return ask("commitJob", object({{"printerImageProcessingInfo", object({{"printQuantity", copies}})},
                                        {"printData", label}}));
    }

    // Takes in what arrives for a while. The copies print every 30 ms, so unstopped printing
    // would report several of them meanwhile.
    void drain() {
        session->waitFor([](const Message&) { return false; }, 800ms);
    }

    // The progress events received so far.
    size_t progressEvents() const {
        return session->receivedMatching([](const Message& m) {
                   return isEvent("commitJob")(m) && m.ack().isMember("printCopies");
               }).size();
    }
};

TEST_F(Printers, EachScanAnswersWhatTheWorldHoldsAndCallsTheSdkAsOftenAsItMust) {
    struct Case {
        const char* name;
        std::string scenario;
        std::string usbApi;
        std::string usb, wifi, bluetooth;
        size_t usbCalls;
    };
    const Case cases[] = {
        {"the default world", "", "getUsbPrinter",
         R"({"apiName":"getUsbPrinter","resultAck":{"deviceInfos":{"commPort":1,"deviceName":"KV-USB-01"},)"
         R"("errorCode":0,"info":"{\"KV-USB-01\":\"1\"}","result":"true"}})",
         R"({"apiName":"getWifiPrinter","resultAck":{"errorCode":0,"info":[{"IP":"192.168.1.50",)"
         R"("avaliableClient":1,"deviceName":"KV-WIFI-01","tcpPort":9100}],"result":"true"}})",
         R"({"apiName":"getBluetoothPrinter","resultAck":{"errorCode":0,"info":[{"deviceName":"KV-BT-01",)"
         R"("macAddress":"00:11:22:33:44:55","rssi":-60}],"result":"true"}})",
         1},
        {"an empty world", R"({"usbPrinters":[],"wifiPrinters":[],"bluetoothPrinters":[]})", "getUsbPrinter",
         R"({"apiName":"getUsbPrinter","resultAck":{"errorCode":23,"info":"no device","result":"false"}})",
         R"({"apiName":"getWifiPrinter","resultAck":{"errorCode":23,"info":"no device","result":-1}})",
         R"({"apiName":"getBluetoothPrinter","resultAck":{"errorCode":23,"info":"no device","result":"false"}})",
         3},
        // Found on the second call; the kept record is the last one, the text lists both, unescaped.
        {"two USB printers on the second scan",
         R"({"usbEmptyScans":1,"usbPrinters":[{"name":"KV-A","port":3},{"name":"KV \"B\"","port":4}]})",
         "getAllPrinters",
         R"({"apiName":"getAllPrinters","resultAck":{"deviceInfos":{"commPort":4,"deviceName":"KV \"B\""},)"
         R"("errorCode":0,"info":"{\"KV-A\":\"3\",\"KV \"B\"\":\"4\"}","result":"true"}})",
         R"({"apiName":"getWifiPrinter","resultAck":{"errorCode":0,"info":[{"IP":"192.168.1.50",)"
         R"("avaliableClient":1,"deviceName":"KV-WIFI-01","tcpPort":9100}],"result":"true"}})",
         R"({"apiName":"getBluetoothPrinter","resultAck":{"errorCode":0,"info":[{"deviceName":"KV-BT-01",)"
         R"("macAddress":"00:11:22:33:44:55","rssi":-60}],"result":"true"}})",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.scenario);
        EXPECT_EQ(ask(c.usbApi), c.usb + "\n");
        EXPECT_EQ(ask("getWifiPrinter"), c.wifi + "\n");
        EXPECT_EQ(ask("getBluetoothPrinter"), c.bluetooth + "\n");
        EXPECT_EQ(e2e::traceArgs(service(), "getUsbPrinter").size(), c.usbCalls);
        EXPECT_EQ(e2e::traceArgs(service(), "getWifiPrinter").size(), 1u);
        EXPECT_EQ(e2e::traceArgs(service(), "getBluetoothPrinter").size(), 1u);
        // Every list the SDK handed out came back to it.
        for (const Json::Value& args : e2e::traceArgs(service(), "freeData")) EXPECT_EQ(args[0], Json::Value(true));
    }
}

TEST_F(Printers, ConnectsAnswerByTransportAndTheCloseEchoesTheNameKept) {
    start();
    ASSERT_NE(ask("getWifiPrinter").find("KV-WIFI-01"), std::string::npos);
    struct Case {
        const char* apiName;
        Json::Value parameter;
        std::string answer;  // its resultAck
        std::string keptName;
    };
    const Case cases[] = {
        {"connetUsbPrinter", object({{"printerName", "KV-USB-01"}, {"port", 1}}),
         R"({"callback":{"name":"onConnectSuccess","printerName":"KV-USB-01"},"errorCode":0,)"
         R"("info":"select printer ok!","result":true})",
         "KV-USB-01"},
        // A failed USB connect forgets the name.
        {"selectPrinter", object({{"printerName", "nobody"}}),
         R"({"callback":{"name":"onDisConnect","printerName":"nobody"},"errorCode":-1,"info":"fail","result":false})",
         ""},
        // The IP address and client count come from the scan, the port is 9100 by default.
        {"connectWifiPrinter", object({{"printerName", "KV-WIFI-01"}}),
         R"({"callback":{"name":"onConnectSuccess","printerName":"KV-WIFI-01"},"errorCode":0,)"
         R"("info":"select wifi printer ok!","result":0})",
         "KV-WIFI-01"},
        {"connectWifiPrinter", object({{"printerName", "nobody"}, {"port", 9200}}),
         R"({"callback":{"name":"onDisConnect","printerName":"nobody"},"errorCode":-1,"info":"fail","result":-1})",
         "nobody"},
        {"connectBluetoothPrinter", object({{"printerName", "KV-BT-01"}, {"macAddress", "00:11:22:33:44:55"}}),
         R"({"callback":{"name":"onConnectSuccess","printerName":"KV-BT-01"},"errorCode":0,)"
         R"("info":"select bluetooth printer ok!","result":0})",
         "KV-BT-01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.apiName) + " " + e2e::compact(c.parameter));
        EXPECT_EQ(ask(c.apiName, c.parameter),
                  "{\"apiName\":\"" + std::string(c.apiName) + "\",\"resultAck\":" + c.answer + "}\n");
        EXPECT_EQ(ask("closePrinter"), R"({"apiName":"closePrinter","resultAck":{"callback":{"name":"onDisConnect",)"
                                       R"("printerName":")" +
                                           c.keptName + R"("},"result":"true"}})" + "\n");
    }

    const std::vector<Json::Value> wifi = e2e::traceArgs(service(), "connectWifiPrinter");
    ASSERT_EQ(wifi.size(), 2u);
    EXPECT_EQ(e2e::compact(wifi[0][0]), R"({"avaliableClient":1,"ip":"192.168.1.50","name":"KV-WIFI-01","tcpPort":9100})");
    EXPECT_EQ(e2e::compact(wifi[1][0]), R"({"avaliableClient":0,"ip":"","name":"nobody","tcpPort":9200})");
    const std::vector<Json::Value> usb = e2e::traceArgs(service(), "connectUsbPrinter");
    ASSERT_EQ(usb.size(), 2u);
    EXPECT_EQ(e2e::compact(usb[1][0]), R"({"name":"nobody","port":0})");

    // Closed: the printer-facing operations are refused by the printer.
    EXPECT_EQ(ask("startJob"), envelope("startJob", -1, "setLabelType:printer disconnect", -4));
}

TEST_F(Printers, AJobStartsWithItsSettingsPrintsAndIsCancelledThenEnded) {
    start(R"({"pageMs":30})");
    connectUsb();
    EXPECT_EQ(ask("startJob", object({{"printLabelType", 1}, {"printDensity", 3.9}, {"printMode", 1}, {"count", 2}})),
              envelope("startJob", 0, "startJob ok!", 0));
    // Without "initSdk" the density goes to the printer as asked (3.9 read as 3), not reset.
    const std::vector<std::string> calls = service().traceCalls();
    const std::vector<std::string> tail(calls.end() - 4, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"setLabelType", "setPrintDensity", "setPrintMode", "startJob"}));
    EXPECT_EQ(e2e::traceArgs(service(), "setPrintDensity").back(), e2e::parseJson("[3]"));
    EXPECT_EQ(e2e::compact(e2e::traceArgs(service(), "startJob").back()[0]), R"({"count":2,"first":0,"second":1})");

    EXPECT_EQ(commitPage(40), envelope("commitJob", 0, "commitJobApi Success!", 0));
    ASSERT_TRUE(session->waitFor(isEvent("commitJob")));
    EXPECT_EQ(ask("cancelJob"), R"({"apiName":"cancelJob","resultAck":{"errorCode":0,"info":"cancel success","result":"true"}})"
                                "\n");
    // Only a copy that was on its way when the cancel came may still be reported.
    const size_t beforeCancel = progressEvents();
    drain();
    const size_t printed = progressEvents();
    EXPECT_LE(printed, beforeCancel + 1);
    EXPECT_EQ(e2e::printedFiles(service()).size(), printed);
    EXPECT_TRUE(session->receivedMatching([](const Message& m) { return m.ack()["info"] == "commitJob ok!"; }).empty())
        << "a cancelled job does not finish";

    EXPECT_EQ(ask("endJob"), envelope("endJob", 0, "endJob ok", 0));
    EXPECT_EQ(ask("stopPrint"), R"({"apiName":"stopPrint","resultAck":{"errorCode":0,"info":"cancel success","result":"true"}})"
                                "\n");
}

TEST_F(Printers, APauseHoldsThePrintingUntilTheResumeAndTheJobThenFinishes) {
    start(R"({"pageMs":30})");
    connectUsb();
    ASSERT_EQ(ask("startJob", object({{"count", 1}})), envelope("startJob", 0, "startJob ok!", 0));
    ASSERT_EQ(commitPage(6), envelope("commitJob", 0, "commitJobApi Success!", 0));
    ASSERT_TRUE(session->waitFor(isEvent("commitJob")));
    EXPECT_EQ(ask("pausePrint"), envelope("pausePrint", 0, "pause success", 0));
    // Only the copy being printed when the pause came may still be reported.
    const size_t beforePause = progressEvents();
    drain();
    EXPECT_LE(progressEvents(), beforePause + 1) << "printing went on while paused";

    EXPECT_EQ(ask("resumePrint"), envelope("resumePrint", 0, "resume success", 0));
    const std::optional<Message> finished =
        session->waitFor([](const Message& m) { return m.ack()["info"] == "commitJob ok!"; });
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->text, envelope("commitJob", 0, "commitJob ok!", 0));
    // Every copy once, in order, before the job's end.
    std::vector<int> copies;
    for (const Message& m : session->received()) {
        if (m.ack().isMember("printCopies")) copies.push_back(m.ack()["printCopies"].asInt());
    }
    EXPECT_EQ(copies, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ask("endJob"), envelope("endJob", 0, "endJob ok", 0));
}

TEST_F(Printers, EveryEventReachesTheClientOfTheLatestRequestExactlyAsTheTableWritesIt) {
    // Raised one after another once "getPrintMode" (client B's request) has returned; the types
    // outside the table (0, 11, 16) send nothing.
    const char* events[] = {
        R"({"type":1})",
        R"({"type":2,"value":80})",
        R"({"type":0,"value":1})",
        R"({"type":3,"value":1})",
        R"({"type":4,"value":0})",
        R"({"type":5,"value":1})",
        R"({"type":6,"value":2})",
        R"({"type":11,"value":2})",
        R"({"type":7,"value":3})",
        R"({"type":8,"page":1,"copies":2,"ribbonLengthUsed":12.5,"waitTime":0,"epc":"E200-01"})",
        R"({"type":9,"errorCode":2,"printState":1})",
        R"({"type":9,"errorCode":99,"printState":7})",
        R"({"type":10})",
        R"({"type":16})",
        R"({"type":15,"progress":40,"errorCode":0})",
    };
    std::string scenario = R"({"events":[)";
    int delay = 200;
    for (const char* event : events) {
        Json::Value e = e2e::parseJson(event);
        e["after"] = "getPrintMode";
        e["delayMs"] = delay++;
        scenario += (delay > 201 ? "," : "") + e2e::compact(e);
    }
    start(scenario + "]}");

    kvtest::WsTestClient other;
    ASSERT_TRUE(other.connect());
    e2e::Session b(other);
    EXPECT_EQ(ask("getSdkVersion"), R"({"apiName":"getSdkVersion","resultAck":{"errorCode":0,"info":"V2.1.0",)"
                                    R"("result":"V2.1.0"}})"
                                    "\n");
    EXPECT_EQ(b.askText("getPrintMode"), envelope("getPrintMode", -1, "printer disconnect", -4));

    const std::vector<std::string> expected = {
        R"({"apiName":"printStatus","resultAck":{"errorCode":0,"info":"disconnect printer","online":"offline","result":0}})",
        R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onElectricityChange","powerLever":80},)"
        R"("errorCode":0,"info":{"power":80},"result":true}})",
        R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"coverStatus":1,"name":"onCoverStatusChange"},)"
        R"("errorCode":0,"info":{"capStatus":1},"result":true}})",
        R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onPaperStatusChange","paperStatus":0},)"
        R"("errorCode":0,"info":{"paperStatus":0},"result":true}})",
        R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onRibbonStatusChange","ribbonStatus":1},)"
        R"("errorCode":0,"info":{"ribbonStatus":1},"result":true}})",
        R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"consumableRfidReadStatus":2,)"
        R"("name":"onConsumablesRfidReadStatusChange"},"errorCode":0,"info":{"rfidStatus":2},"result":true}})",
        R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onRibbonRfidStatusChange",)"
        R"("ribbonRfidStatus":3},"errorCode":0,"info":{"ribbonRfidStatus":3},"result":true}})",
        R"({"apiName":"commitJob","resultAck":{"errorCode":0,"info":"","onPrintEPCCodeCompleted":"E200-01",)"
        R"("onPrintPageCompleted":2,"onPrintPageLengthCompleted":12.5,"printCopies":2,"printPages":1,)"
        R"("printQuantity":1,"time":0}})",
        R"({"apiName":"commitJob","resultAck":{"cacheStatus":"pause","errorCode":2,"info":"No paper","result":-1}})",
        R"({"apiName":"commitJob","resultAck":{"cacheStatus":"","errorCode":99,"info":"","result":-1}})",
        R"({"apiName":"commitJob","resultAck":{"errorCode":0,"info":"commitJob ok!","result":0}})",
        R"({"apiName":"updateFirmware","resultAck":{"errorCode":0,"info":"Success","onUpdateFirmwareCompleted":40}})",
    };
    for (const std::string& text : expected) {
        const std::optional<Message> m = b.waitFor([](const Message&) { return true; });
        ASSERT_TRUE(m) << "missing: " << text;
        EXPECT_EQ(m->text, text + "\n");
    }
    EXPECT_TRUE(other.expectNothing(500ms));
    EXPECT_TRUE(client->expectNothing(100ms)) << "an event went to the client of an earlier request";
    EXPECT_TRUE(service().waitForStderr("[INFO]:OnPrintError 错误码：2, 打印状态：1"));
}

TEST_F(Printers, EventsBeforeAnyRequestAreDroppedWithoutHarm) {
    // Raised as soon as the service has registered its callback, before any client.
    start(R"({"events":[{"after":"registCallback","delayMs":0,"type":3,"value":1},
                        {"after":"registCallback","delayMs":1,"type":8,"page":1,"copies":1},
                        {"after":"registCallback","delayMs":2,"type":9,"errorCode":2,"printState":2},
                        {"after":"registCallback","delayMs":3,"type":1},
                        {"after":"registCallback","delayMs":4,"type":15,"progress":10}]})");
    // The service took them: their log lines stand in its log.
    ASSERT_TRUE(service().waitForStderr("[INFO]:固件升级错误码：0, 进度：10"));
    EXPECT_TRUE(service().waitForStderr("[INFO]:Cover status changed: 1"));
    EXPECT_TRUE(client->expectNothing(300ms));
    EXPECT_EQ(ask("getSdkVersion"), R"({"apiName":"getSdkVersion","resultAck":{"errorCode":0,"info":"V2.1.0",)"
                                    R"("result":"V2.1.0"}})"
                                    "\n");
    EXPECT_TRUE(client->expectNothing(300ms));
    EXPECT_TRUE(service().running());
}

}  // namespace
