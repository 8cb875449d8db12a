// The printer's events: the exact message of every type of the event table, the two counters
// that the picture print waits on, the status log lines, and silence for every other type.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerEvents.h"
#include "sdk/kvPrinterSdk.h"
#include "tests/support/logCapture.h"

namespace {

StatusValueInfo status(int32_t value) { return {value, 0}; }

PrintProgressInfo progress(int32_t page, int32_t copies, double ribbon, int32_t wait, const std::string& epc) {
    PrintProgressInfo p{};
    p.page = page;
    p.copies = copies;
    p.ribbonLengthUsed = ribbon;
    p.waitTime = wait;
    std::memcpy(p.epc, epc.data(), std::min(epc.size(), sizeof p.epc));
    return p;
}

class PrinterEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        printedCopyCount = 0;
        printErrorCode = 0;
        copiesDropped();
    }
};

TEST_F(PrinterEventsTest, EveryTypeOfTheTableHasItsExactMessage) {
    const StatusValueInfo battery = status(80), cover = status(1), paper = status(2), ribbon = status(3),
                          paperRfid = status(4), ribbonRfid = status(-5);
    const PrintProgressInfo printed = progress(1, 2, 12.5, 0, "");
    const PrintProgressInfo printedWithEpc = progress(3, 1, 0.25, 7, "E200-01");
    const PrintErrorInfo noPaper{2, 1, 0};
    const PrintErrorInfo cancelled{51, 2, 0};
    const FirmwareProgressInfo firmware{40, 0, 0};
    const FirmwareProgressInfo firmwareFailed{90, 52, 0};
    struct Case {
        int32_t type;
        const void* payload;
        const char* message;
    };
    const Case cases[] = {
        {1, nullptr,
         R"({"apiName":"printStatus","resultAck":{"errorCode":0,"info":"disconnect printer","online":"offline",)"
         R"("result":0}})"},
        {2, &battery,
         R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onElectricityChange",)"
         R"("powerLever":80},"errorCode":0,"info":{"power":80},"result":true}})"},
        {3, &cover,
         R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"coverStatus":1,)"
         R"("name":"onCoverStatusChange"},"errorCode":0,"info":{"capStatus":1},"result":true}})"},
        {4, &paper,
         R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onPaperStatusChange",)"
         R"("paperStatus":2},"errorCode":0,"info":{"paperStatus":2},"result":true}})"},
        {5, &ribbon,
         R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onRibbonStatusChange",)"
         R"("ribbonStatus":3},"errorCode":0,"info":{"ribbonStatus":3},"result":true}})"},
        {6, &paperRfid,
         R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"consumableRfidReadStatus":4,)"
         R"("name":"onConsumablesRfidReadStatusChange"},"errorCode":0,"info":{"rfidStatus":4},"result":true}})"},
        {7, &ribbonRfid,
         R"({"apiName":"getPrinterHighLevelInfo","resultAck":{"callback":{"name":"onRibbonRfidStatusChange",)"
         R"("ribbonRfidStatus":-5},"errorCode":0,"info":{"ribbonRfidStatus":-5},"result":true}})"},
        {8, &printed,
         R"({"apiName":"commitJob","resultAck":{"errorCode":0,"info":"","onPrintEPCCodeCompleted":"",)"
         R"("onPrintPageCompleted":2,"onPrintPageLengthCompleted":12.5,"printCopies":2,"printPages":1,)"
         R"("printQuantity":1,"time":0}})"},
        {8, &printedWithEpc,
         R"({"apiName":"commitJob","resultAck":{"errorCode":0,"info":"","onPrintEPCCodeCompleted":"E200-01",)"
         R"("onPrintPageCompleted":1,"onPrintPageLengthCompleted":0.25,"printCopies":1,"printPages":3,)"
         R"("printQuantity":3,"time":7}})"},
        {9, &noPaper,
         R"({"apiName":"commitJob","resultAck":{"cacheStatus":"pause","errorCode":2,"info":"No paper","result":-1}})"},
        {9, &cancelled,
         R"({"apiName":"commitJob","resultAck":{"cacheStatus":"cancel","errorCode":51,)"
         R"("info":"carbon bands and labels aren't match","result":-1}})"},
        {10, nullptr, R"({"apiName":"commitJob","resultAck":{"errorCode":0,"info":"commitJob ok!","result":0}})"},
        {15, &firmware,
         R"({"apiName":"updateFirmware","resultAck":{"errorCode":0,"info":"Success","onUpdateFirmwareCompleted":40}})"},
        {15, &firmwareFailed,
         R"({"apiName":"updateFirmware","resultAck":{"errorCode":52,"info":"firmware receive data timeout",)"
         R"("onUpdateFirmwareCompleted":90}})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(printerEventMessage(c.payload, c.type).value_or("<none>"), std::string(c.message) + "\n")
            << "type " << c.type;
    }
}

TEST_F(PrinterEventsTest, CodesMissingFromTheTablesGiveEmptyTextsAndLeaveTheTablesAlone) {
    const PrintErrorInfo unknown{17, 7, 0};
    EXPECT_EQ(printerEventMessage(&unknown, 9),
              R"({"apiName":"commitJob","resultAck":{"cacheStatus":"","errorCode":17,"info":"","result":-1}})" "\n");
    const FirmwareProgressInfo firmware{5, 99, 0};
    EXPECT_EQ(printerEventMessage(&firmware, 15),
              R"({"apiName":"updateFirmware","resultAck":{"errorCode":99,"info":"","onUpdateFirmwareCompleted":5}})"
              "\n");
    EXPECT_EQ(printStateMsgMap.size(), 2u);
    EXPECT_EQ(printerErrorMsgMap.size(), 24u);
}

TEST_F(PrinterEventsTest, TypesOutsideTheTableChangeNothing) {
    printedCopyCount = 4;
    printErrorCode = 5;
    unsigned char payload[sizeof(PrintProgressInfo)] = {1, 1, 1, 1, 1, 1, 1, 1};
    LogCapture log;
    for (const int32_t type : {0, 11, 12, 13, 14, 16, 17, 100, -1, -8}) {
        EXPECT_FALSE(printerEventMessage(payload, type)) << type;
        printerEventCallback(payload, type);
    }
    EXPECT_EQ(printedCopyCount, 4);
    EXPECT_EQ(printErrorCode, 5);
    EXPECT_TRUE(log.messages().empty());
}

TEST_F(PrinterEventsTest, AMissingPayloadIsIgnoredInsteadOfRead) {
    LogCapture log;
    for (const int32_t type : {2, 3, 4, 5, 6, 7, 8, 9, 15}) {
        EXPECT_FALSE(printerEventMessage(nullptr, type)) << type;
        printerEventCallback(nullptr, type);
    }
    EXPECT_EQ(printedCopyCount, 0);
    EXPECT_EQ(printErrorCode, 0);
    EXPECT_TRUE(log.messages().empty());
}

TEST_F(PrinterEventsTest, OfflineProgressAndErrorsUpdateTheCounters) {
    printerEventCallback(nullptr, 1);
    EXPECT_EQ(printErrorCode, 23);
    EXPECT_EQ(printedCopyCount, 0);

    PrintProgressInfo p = progress(1, 2, 12.5, 0, "");
    printerEventCallback(&p, 8);
    EXPECT_EQ(printedCopyCount, 2);
    p.copies = 1;  // the copy number of the last event, whichever it is
    printerEventCallback(&p, 8);
    EXPECT_EQ(printedCopyCount, 1);

    PrintErrorInfo error{2, 1, 0};
    printerEventCallback(&error, 9);
    EXPECT_EQ(printErrorCode, 2);

    // The other known types leave both alone.
    printErrorCode = 0;
    printedCopyCount = 0;
    const StatusValueInfo value = status(9);
    const FirmwareProgressInfo firmware{50, 3, 0};
    for (const int32_t type : {2, 3, 4, 5, 6, 7}) printerEventCallback(const_cast<StatusValueInfo*>(&value), type);
    printerEventCallback(nullptr, 10);
    printerEventCallback(const_cast<FirmwareProgressInfo*>(&firmware), 15);
    EXPECT_EQ(printErrorCode, 0);
    EXPECT_EQ(printedCopyCount, 0);
}

// The awaited page's copies are those reported after every copy committed before it, unless the
// printer dropped those: pages whose copies all report page 1 copy 1 tell which is which.
TEST_F(PrinterEventsTest, TheAwaitedPagesCopiesComeAfterThoseCommittedBeforeIt) {
    PrintProgressInfo copy = progress(1, 1, 0.0, 0, "");
    const auto awaitAfter = [&](int32_t earlierCopies) {
        copiesCommitting(earlierCopies, false);
        copiesCommitting(1, true);
    };
    awaitAfter(2);
    printerEventCallback(&copy, 8);
    printerEventCallback(&copy, 8);
    EXPECT_EQ(printedCopyCount, 0);
    printerEventCallback(&copy, 8);
    EXPECT_EQ(printedCopyCount, 1);

    // A pause keeps the copies left; a cancelling error, like a stop or a close, drops them.
    PrintErrorInfo paused{2, 1, 0}, cancelled{2, 2, 0};
    awaitAfter(1);
    printerEventCallback(&paused, 9);
    printerEventCallback(&copy, 8);
    EXPECT_EQ(printedCopyCount, 0);
    printerEventCallback(&cancelled, 9);
    awaitAfter(1);
    printerEventCallback(&cancelled, 9);
    printerEventCallback(&copy, 8);
    EXPECT_EQ(printedCopyCount, 1);

    // A page the SDK refused is not waited for.
    copiesDropped();
    copiesCommitting(3, false);
    copiesRefused(3);
    copiesCommitting(1, true);
    printerEventCallback(&copy, 8);
    EXPECT_EQ(printedCopyCount, 1);
}

TEST_F(PrinterEventsTest, StatusEventsLogTheirLines) {
    StatusValueInfo value = status(6);
    PrintProgressInfo p = progress(2, 3, 1.5, 4, "EPC9");
    PrintErrorInfo error{2, 1, 0};
    FirmwareProgressInfo firmware{40, 0, 0};
    struct Case {
        int32_t type;
        void* payload;
        const char* line;  // empty: no line; glog drops the line's own final newline
    };
    const Case cases[] = {
        {1, nullptr, ""},
        {2, &value, ""},
        {3, &value, "[INFO]:Cover status changed: 6"},
        {4, &value, "[INFO]:PaPer status changed: 6"},
        {5, &value, "[INFO]:Ribbon status changed: 6"},
        {6, &value, "[INFO]:Paper rfid status changed: 6"},
        {7, &value, "[INFO]:Ribbon rfid status changed: 6"},
        {8, &p, "[INFO]:OnPrintProgress 页码：2, 份码：3, 碳带使用长度：1.500000, 高温等待时间：4, rfid: EPC9"},
        {9, &error, "[INFO]:OnPrintError 错误码：2, 打印状态：1"},
        {10, nullptr, ""},
        {15, &firmware, "[INFO]:固件升级错误码：0, 进度：40"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        printerEventCallback(c.payload, c.type);
        const std::vector<std::string> lines = log.messages();
        if (std::string(c.line).empty()) {
            EXPECT_TRUE(lines.empty()) << "type " << c.type;
        } else {
            ASSERT_EQ(lines.size(), 1u) << "type " << c.type;
            EXPECT_EQ(lines[0], c.line) << "type " << c.type;
        }
    }
}

// The SDK may call from several threads at once, beside the worker resetting the counters.
TEST_F(PrinterEventsTest, ConcurrentEventsLeaveConsistentCounters) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 1; i <= 200; ++i) {
                PrintProgressInfo p = progress(1, t * 1000 + i, i * 0.5, 0, "");
                printerEventCallback(&p, 8);
                EXPECT_TRUE(printerEventMessage(&p, 8));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const int32_t last = printedCopyCount;
    EXPECT_EQ(last % 1000, 200);  // each thread's final store is some thread's copy 200
}

}  // namespace
