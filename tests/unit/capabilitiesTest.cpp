// Capabilities and counters: the support bits as documents, the tag history (order, 44-byte
// identifiers, "null" for no items, given back exactly once on success and never on failure) and
// the RFID counters, each "result" compared byte for byte.
#include <cstring>
#include <vector>

#include "tests/unit/settingsTestSupport.h"

namespace {

class CapabilitiesTest : public SettingsServiceTest {};

TEST_F(CapabilitiesTest, ColourSupportBitsBecomeADocument) {
    const struct {
        int value;
        const char* document;
    } rows[] = {
        {1, "{\"grayMode\":0,\"normal\":1,\"rbMode\":0}\n"},
        {2, "{\"grayMode\":0,\"normal\":0,\"rbMode\":1}\n"},
        {4, "{\"grayMode\":1,\"normal\":0,\"rbMode\":0}\n"},
        {5, "{\"grayMode\":1,\"normal\":1,\"rbMode\":0}\n"},
        {7, "{\"grayMode\":1,\"normal\":1,\"rbMode\":1}\n"},
        {0, "{\"grayMode\":0,\"normal\":0,\"rbMode\":0}\n"},
        {8, "{\"grayMode\":0,\"normal\":0,\"rbMode\":0}\n"},
        {-1, "{\"grayMode\":1,\"normal\":1,\"rbMode\":1}\n"},
    };
    for (const char* apiName : {"getColorSupport", "getColorType"}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(apiName) + " " + std::to_string(row.value));
            fake.setResult<SdkIntResult>("getColorSupport", {row.value, 0});
            EXPECT_EQ(ask(apiName), textAnswer(apiName, 0, "get color support success", row.document));
        }
    }
    EXPECT_EQ(ask("getColorType"),
              "{\"apiName\":\"getColorType\",\"resultAck\":{\"errorCode\":0,\"info\":\"get color support success\","
              "\"result\":\"{\\\"grayMode\\\":1,\\\"normal\\\":1,\\\"rbMode\\\":1}\\n\"}}\n");
}

TEST_F(CapabilitiesTest, PrintQualitySupportBitsBecomeADocument) {
    const struct {
        int value;
        const char* document;
    } rows[] = {
        {1, "{\"highQuality\":1,\"highSpeed\":0}\n"}, {2, "{\"highQuality\":0,\"highSpeed\":1}\n"},
        {3, "{\"highQuality\":1,\"highSpeed\":1}\n"}, {0, "{\"highQuality\":0,\"highSpeed\":0}\n"},
        {4, "{\"highQuality\":0,\"highSpeed\":0}\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        fake.setResult<SdkIntResult>("getPrintQualitySupport", {row.value, 0});
        EXPECT_EQ(ask("getPrintQualitySupport"),
                  textAnswer("getPrintQualitySupport", 0, "get printer quality support success!", row.document));
    }
}

TEST_F(CapabilitiesTest, RfidCountersNameTheFirstTotalAndTheSecondSuccess) {
    fake.setResult<SdkPairResult>("getRfidSuccessTimes", {100, 95, 0});
    for (const char* apiName : {"getRfidSuccessTimes", "getPrinterTimes"}) {
        SCOPED_TRACE(apiName);
        EXPECT_EQ(ask(apiName), textAnswer(apiName, 0, "get printer rfid success times success!",
                                           "{\"successNumber\":95,\"totalNumber\":100}\n"));
    }
    fake.setResult<SdkPairResult>("getRfidSuccessTimes", {-3, -9, 0});
    EXPECT_EQ(ask("getPrinterTimes"), textAnswer("getPrinterTimes", 0, "get printer rfid success times success!",
                                                 "{\"successNumber\":-9,\"totalNumber\":-3}\n"));
}

PrinterHistoryInfo historyItem(const std::string& uuid, int limit, int used) {
    PrinterHistoryInfo item{};
    std::memcpy(item.uuid, uuid.data(), std::min(uuid.size(), sizeof item.uuid));
    item.limitNumber = limit;
    item.usedNumber = used;
    return item;
}

TEST_F(CapabilitiesTest, HistoryKeepsTheSdkOrderAndIsGivenBackOnce) {
    const PrinterHistoryInfo items[] = {historyItem("E2801160", 200, 15), historyItem("A1", 50, 0)};
    for (const char* apiName : {"getPrinterHistory", "getPrinterTagID"}) {
        SCOPED_TRACE(apiName);
        fake.clearCalls();
        fake.setResult<SdkListResult>("getPrinterHistory", {fake.handOut(items, sizeof items), 2, 0});
        EXPECT_EQ(ask(apiName),
                  textAnswer(apiName, 0, "get printer rfid history success!",
                             "[{\"limitNumber\":200,\"usedNumber\":15,\"uuid\":\"E2801160\"},"
                             "{\"limitNumber\":50,\"usedNumber\":0,\"uuid\":\"A1\"}]\n"));
        EXPECT_EQ(callTrace(), "getPrinterHistory freeData[true]");
    }
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(CapabilitiesTest, AnIdentifierThatFillsItsFieldIsTakenWhole) {
    const std::string uuid44(44, 'F');
    // A second item right behind: reading past the first identifier would run into it.
    const PrinterHistoryInfo items[] = {historyItem(uuid44, 1, 2), historyItem("NEXT", 3, 4)};
    fake.setResult<SdkListResult>("getPrinterHistory", {fake.handOut(items, sizeof items), 1, 0});
    EXPECT_EQ(ask("getPrinterHistory"),
              textAnswer("getPrinterHistory", 0, "get printer rfid history success!",
                         "[{\"limitNumber\":1,\"usedNumber\":2,\"uuid\":\"" + uuid44 + "\"}]\n"));
}

TEST_F(CapabilitiesTest, AHistoryWithoutItemsIsNullAndStillGivenBack) {
    for (int count : {0, -5}) {
        SCOPED_TRACE(count);
        fake.clearCalls();
        fake.setResult<SdkListResult>("getPrinterHistory", {fake.handOut(nullptr, 0), count, 0});
        EXPECT_EQ(ask("getPrinterHistory"),
                  "{\"apiName\":\"getPrinterHistory\",\"resultAck\":{\"errorCode\":0,\"info\":\"get printer rfid "
                  "history success!\",\"result\":\"null\\n\"}}\n");
        EXPECT_EQ(callTrace(), "getPrinterHistory freeData[true]");
    }
    fake.clearCalls();
    fake.setResult<SdkListResult>("getPrinterHistory", {nullptr, 4, 0});
    EXPECT_EQ(ask("getPrinterHistory"), textAnswer("getPrinterHistory", 0, "get printer rfid history success!", "null\n"));
    EXPECT_EQ(callTrace(), "getPrinterHistory");
}

TEST_F(CapabilitiesTest, FailuresAnswerMinusOneAndLeaveTheHistoryAlone) {
    const PrinterHistoryInfo items[] = {historyItem("X", 1, 1)};
    fake.setResult<SdkListResult>("getPrinterHistory", {fake.handOut(items, sizeof items), 1, -4});
    fake.setResult<SdkIntResult>("getColorSupport", {7, -4});
    fake.setResult<SdkIntResult>("getPrintQualitySupport", {3, -4});
    fake.setResult<SdkPairResult>("getRfidSuccessTimes", {100, 95, -4});
    for (const char* apiName : {"getPrinterHistory", "getColorSupport", "getPrintQualitySupport", "getRfidSuccessTimes"}) {
        SCOPED_TRACE(apiName);
        EXPECT_EQ(ask(apiName), intAnswer(apiName, -4, "printer disconnect", -1));
    }
    EXPECT_EQ(fake.callCount("freeData"), 0);
    fake.setResult<SdkIntResult>("getColorSupport", {7, 3});
    EXPECT_EQ(ask("getColorType"), intAnswer("getColorType", 3, "", -1));
}

}  // namespace
