// Paper and consumables: the page information under both names and its parameter check, the
// paper information with its float fields widened to double, and the two RFID answers (the
// consumable's keys in "resultAck", every tag's in "rfid" with holes for tags not read).
#include <cstring>
#include <vector>

#include "tests/unit/settingsTestSupport.h"

namespace {

class PaperTest : public SettingsServiceTest {};

// ---- page information ----------------------------------------------------------------------

TEST_F(PaperTest, PageInformationIsADocumentUnderEitherName) {
    fake.setResult<SdkPairResult>("getPageInfo", {240, 16, 0});
    for (const char* apiName : {"getPageInfo", "paperCalibration"}) {
        SCOPED_TRACE(apiName);
        fake.clearCalls();
        EXPECT_EQ(ask(apiName, R"({"paperType":2})"),
                  "{\"apiName\":\"" + std::string(apiName) +
                      "\",\"resultAck\":{\"errorCode\":0,\"info\":\"get page info success!\","
                      "\"result\":\"{\\\"gap\\\":16,\\\"height\\\":240}\\n\"}}\n");
        EXPECT_EQ(callTrace(), "getPageInfo");
        EXPECT_EQ(fake.lastArgs("getPageInfo")[0], 2);
    }
    ask("getPageInfo", R"({"paperType":-1.0})");
    EXPECT_EQ(fake.lastArgs("getPageInfo")[0], -1);
}

TEST_F(PaperTest, PaperTypeMustBeAWholeNumber) {
    const char* const refused[] = {R"({"paperType":"1"})", R"({"paperType":1.5})", R"({"paperType":true})",
                                   R"({"paperType":null})", R"({"paperType":2147483648})", R"({})",
                                   R"({"papertype":1})",    "5",                      "[1]",
                                   "null"};
    for (const char* apiName : {"getPageInfo", "paperCalibration"}) {
        for (const char* parameter : refused) {
            SCOPED_TRACE(std::string(apiName) + " " + parameter);
            EXPECT_EQ(ask(apiName, parameter), parameterError(apiName));
        }
        EXPECT_EQ(ask(apiName), parameterError(apiName));
    }
    EXPECT_EQ(callTrace(), "");
}

TEST_F(PaperTest, AFailedPageInformationPassesTheCodeOn) {
    fake.setResult<SdkPairResult>("getPageInfo", {240, 16, -4});
    EXPECT_EQ(ask("paperCalibration", R"({"paperType":1})"), intAnswer("paperCalibration", -4, "printer disconnect", -1));
}

// ---- paper information ---------------------------------------------------------------------

TEST_F(PaperTest, PaperInformationWidensItsFloatsToDouble) {
    SdkPaperInfoResult paper{};
    paper.gapHeightPixel = 16;
    paper.totalHeightPixel = 256;
    paper.paperType = 1;
    paper.gapHeight = 0.1f;
    paper.totalHeight = 32.0f;
    paper.paperWidthPixel = 400;
    paper.paperWidth = 50.5f;
    paper.direction = 1;
    paper.tailLengthPixel = -8;
    paper.tailLength = 1.1f;
    fake.setResult<SdkPaperInfoResult>("getPaperInfo", paper);
    EXPECT_EQ(ask("getPaperInfo"),
              textAnswer("getPaperInfo", 0, "get paper info success",
                         "{\"direction\":1,\"gapHeight\":0.10000000149011612,\"gapHeightPixel\":16,\"paperType\":1,"
                         "\"paperWidth\":50.5,\"paperWidthPixel\":400,\"tailLength\":1.1000000238418579,"
                         "\"tailLengthPixel\":-8,\"totalHeight\":32.0,\"totalHeightPixel\":256}\n"));
    paper.errorCode = -2;
    fake.setResult<SdkPaperInfoResult>("getPaperInfo", paper);
    EXPECT_EQ(ask("getPaperInfo"), intAnswer("getPaperInfo", -2, "printer busy", -1));
}

// ---- RFID ----------------------------------------------------------------------------------

RfidInfo tag(const std::string& uuid, int readStatus, int metres = 50) {
    RfidInfo item{};
    std::strncpy(item.uuid, uuid.c_str(), sizeof item.uuid - 1);
    std::strncpy(item.barcode, ("BC-" + uuid).c_str(), sizeof item.barcode - 1);
    std::strncpy(item.batchSerialNumber, ("B-" + uuid).c_str(), sizeof item.batchSerialNumber - 1);
    item.allPaperMetres = metres;
    item.usedPaperMetres = 12;
    item.consumablesType = 3;
    item.readStatus = readStatus;
    return item;
}

// The six keys of a tag as they are written (in key order, without braces).
std::string tagKeys(const std::string& uuid, int metres = 50) {
    return "\"RFID_ALL_PAPER_METRES\":" + std::to_string(metres) + ",\"RFID_BARCODE\":\"BC-" + uuid +
           "\",\"RFID_BATCH_SERIAL_NUMBER\":\"B-" + uuid +
           "\",\"RFID_CONSUMABLES_TYPE\":3,\"RFID_USED_PAPER_METRES\":12,\"RFID_UUID\":\"" + uuid + "\"";
}

std::string tagObject(const std::string& uuid) {
    return "{" + tagKeys(uuid) + ",\"errorCode\":0,\"info\":\"get rfid information success\",\"result\":0}";
}

void handOutTags(FakePrinterSdk& fake, const std::vector<RfidInfo>& tags, int errorCode = 0) {
    fake.setResult<SdkListResult>(
        "getRfidPararm", {fake.handOut(tags.data(), tags.size() * sizeof(RfidInfo)), static_cast<int32_t>(tags.size()),
                          errorCode});
}

TEST_F(PaperTest, ConsumableRfidPutsTheFirstTagsKeysBesideTheResult) {
    // The second tag and the first one's read status are not looked at.
    handOutTags(fake, {tag("E280", 1, 40), tag("SECOND", 0)});
    EXPECT_EQ(ask("getConsumablesRfidInfo"),
              "{\"apiName\":\"getConsumablesRfidInfo\",\"resultAck\":{" + tagKeys("E280", 40) +
                  ",\"errorCode\":0,\"info\":\"get rfid information success!\",\"result\":0}}\n");
    EXPECT_EQ(callTrace(), "getRfidPararm freeData[true]");
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(PaperTest, RfidTextsNeverRunPastTheirField) {
    RfidInfo full{};
    std::memset(&full, 'A', offsetof(RfidInfo, allPaperMetres));  // three texts without a terminating zero
    handOutTags(fake, {full});
    Json::Value answer;
    ASSERT_TRUE(Json::Reader().parse(ask("getConsumablesRfidInfo"), answer));
    EXPECT_EQ(answer["resultAck"]["RFID_UUID"].asString(), std::string(41, 'A'));
    EXPECT_EQ(answer["resultAck"]["RFID_BARCODE"].asString(), std::string(125, 'A'));
    EXPECT_EQ(answer["resultAck"]["RFID_BATCH_SERIAL_NUMBER"].asString(), std::string(126, 'A'));
}

TEST_F(PaperTest, AConsumableWithoutTagsIsAFailureNotARead) {
    fake.setResult<SdkListResult>("getRfidPararm", {fake.handOut(nullptr, 0), 0, 0});
    EXPECT_EQ(ask("getConsumablesRfidInfo"), intAnswer("getConsumablesRfidInfo", -1, "fail", -1));
    EXPECT_EQ(callTrace(), "getRfidPararm freeData[true]");
    fake.clearCalls();
    fake.setResult<SdkListResult>("getRfidPararm", {nullptr, 1, 0});
    EXPECT_EQ(ask("getConsumablesRfidInfo"), intAnswer("getConsumablesRfidInfo", -1, "fail", -1));
    EXPECT_EQ(callTrace(), "getRfidPararm");
}

TEST_F(PaperTest, AllTagsRead) {
    for (const char* apiName : {"getRfidInfo", "getRfidPararm"}) {
        SCOPED_TRACE(apiName);
        fake.clearCalls();
        handOutTags(fake, {tag("T0", 0), tag("T1", 0)});
        EXPECT_EQ(ask(apiName), "{\"apiName\":\"" + std::string(apiName) +
                                    "\",\"resultAck\":{\"errorCode\":0,\"info\":\"get rfid information success!\","
                                    "\"result\":0,\"rfid\":[" +
                                    tagObject("T0") + "," + tagObject("T1") + "]}}\n");
        EXPECT_EQ(callTrace(), "getRfidPararm freeData[true]");
    }
}

TEST_F(PaperTest, TagsNotReadLeaveHolesAndMakeTheAnswerAFailure) {
    const std::string failed = "\"errorCode\":-1,\"info\":\"get one or more rfid information fail\",\"result\":-1";
    const struct {
        const char* name;
        std::vector<RfidInfo> tags;
        std::string resultAck;
    } rows[] = {
        {"middle", {tag("T0", 0), tag("T1", 2), tag("T2", 0)},
         "{" + failed + ",\"rfid\":[" + tagObject("T0") + ",null," + tagObject("T2") + "]}"},
        {"first", {tag("T0", 1), tag("T1", 0)}, "{" + failed + ",\"rfid\":[null," + tagObject("T1") + "]}"},
        {"last", {tag("T0", 0), tag("T1", -1)}, "{" + failed + ",\"rfid\":[" + tagObject("T0") + "]}"},
        {"all", {tag("T0", 1), tag("T1", 1)}, "{" + failed + "}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fake.clearCalls();
        handOutTags(fake, row.tags);
        EXPECT_EQ(ask("getRfidInfo"), "{\"apiName\":\"getRfidInfo\",\"resultAck\":" + row.resultAck + "}\n");
        EXPECT_EQ(callTrace(), "getRfidPararm freeData[true]");
    }
    EXPECT_TRUE(fake.allGivenBack());
}

TEST_F(PaperTest, NoTagsAtAllIsANullResultAck) {
    fake.setResult<SdkListResult>("getRfidPararm", {fake.handOut(nullptr, 0), 0, 0});
    EXPECT_EQ(ask("getRfidInfo"), "{\"apiName\":\"getRfidInfo\",\"resultAck\":null}\n");
    EXPECT_EQ(callTrace(), "getRfidPararm freeData[true]");
}

TEST_F(PaperTest, AFailedRfidReadIsNeitherReadNorGivenBack) {
    for (const char* apiName : {"getRfidInfo", "getConsumablesRfidInfo"}) {
        SCOPED_TRACE(apiName);
        fake.clearCalls();
        handOutTags(fake, {tag("T0", 0)}, -4);
        EXPECT_EQ(ask(apiName), intAnswer(apiName, -4, "printer disconnect", -1));
        EXPECT_EQ(callTrace(), "getRfidPararm");
    }
}

}  // namespace
