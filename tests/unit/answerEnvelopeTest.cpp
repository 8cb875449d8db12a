// The answer envelope's exact text and the message tables.
#include <gtest/gtest.h>

#include "kvPrinter/jsonText.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"

namespace {

TEST(AnswerEnvelope, IntegerResultIsCompactSortedAndEndsInANewline) {
    EXPECT_EQ(cKvPrinterService::makeResult("pausePrint", 0, "pause success", 0),
              "{\"apiName\":\"pausePrint\",\"resultAck\":{\"errorCode\":0,\"info\":\"pause success\",\"result\":0}}\n");
    EXPECT_EQ(cKvPrinterService::makeResult("setPrintDensity", 0, "set print density ok!", 0),
              "{\"apiName\":\"setPrintDensity\",\"resultAck\":{\"errorCode\":0,\"info\":\"set print density ok!\","
              "\"result\":0}}\n");
}

TEST(AnswerEnvelope, StringResultStaysAString) {
    EXPECT_EQ(cKvPrinterService::makeResult("cancelJob", std::string("true"), "cancel success", 0),
              "{\"apiName\":\"cancelJob\",\"resultAck\":{\"errorCode\":0,\"info\":\"cancel success\",\"result\":\"true\"}}\n");
}

TEST(AnswerEnvelope, IntegerInfoIsANumber) {
    EXPECT_EQ(cKvPrinterService::makeResult("getPrinterType", 3, 3, 0),
              "{\"apiName\":\"getPrinterType\",\"resultAck\":{\"errorCode\":0,\"info\":3,\"result\":3}}\n");
}

TEST(AnswerEnvelope, TextsAreEscapedAsJsonStrings) {
    EXPECT_EQ(cKvPrinterService::makeResult("a\"b", std::string("{\"x\":1}\n"), "", 0),
              "{\"apiName\":\"a\\\"b\",\"resultAck\":{\"errorCode\":0,\"info\":\"\",\"result\":\"{\\\"x\\\":1}\\n\"}}\n");
    // Each faulty UTF-8 sequence, in a key too, is one U+FFFD, and what follows it stays.
    EXPECT_EQ(cKvPrinterService::makeResult("\xC3" "AB", std::string("\xE4XYZ"), "\xF0\x9F\x98X", 0),
              "{\"apiName\":\"\\ufffdAB\",\"resultAck\":{\"errorCode\":0,\"info\":\"\\ufffdX\",\"result\":\"\\ufffdXYZ\"}}\n");
    Json::Value keyed;
    keyed["\xF0" "ABC"] = 1;
    EXPECT_EQ(compactJson(keyed), "{\"\\ufffdABC\":1}\n");
}

TEST(MessageTables, HoldExactlyTheirEntries) {
    EXPECT_EQ(printerErrorMsgMap.size(), 24u);
    EXPECT_EQ(apiResultMsgMap.size(), 5u);
    EXPECT_EQ(printStateMsgMap.size(), 2u);
    EXPECT_EQ(lookupMessage(printerErrorMsgMap, 0), "Success");
    EXPECT_EQ(lookupMessage(printerErrorMsgMap, 10), "con't search printer head");
    EXPECT_EQ(lookupMessage(printerErrorMsgMap, 23), "disconnect printer");
    EXPECT_EQ(lookupMessage(printerErrorMsgMap, 53), "nonprofessional carbon");
    EXPECT_EQ(lookupMessage(apiResultMsgMap, -2), "printer busy");
    EXPECT_EQ(lookupMessage(apiResultMsgMap, -4), "printer disconnect");
    EXPECT_EQ(lookupMessage(printStateMsgMap, 2), "cancel");
}

TEST(MessageTables, UnknownCodesGiveAnEmptyTextAndInsertNothing) {
    for (int code : {17, 18, 21, 24, 25, 27, 49, 54, -1}) EXPECT_EQ(lookupMessage(printerErrorMsgMap, code), "") << code;
    EXPECT_EQ(lookupMessage(apiResultMsgMap, 5), "");
    EXPECT_EQ(lookupMessage(printStateMsgMap, 0), "");
    EXPECT_EQ(printerErrorMsgMap.size(), 24u);
    EXPECT_EQ(apiResultMsgMap.size(), 5u);
    EXPECT_EQ(printStateMsgMap.size(), 2u);
}

}  // namespace
