// The picture print: the page reaches the SDK, then the answer waits for the copies, for an
// error, or for a quiet printer. The printer's events come from a thread of the fake SDK.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerEvents.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/fakeThirdLibrary.h"
#include "tests/support/logCapture.h"

namespace {

// A 16 by 8 GIF header: enough for the picture's size.
const char* const kGif = "R0lGODlhEAAIAAAAACw=";

// What the fake printer does after accepting the page: the events it raises, in order.
struct PlannedEvent {
    int type;
    int copies;
};
std::vector<PlannedEvent> plannedEvents;
std::thread eventThread;

SdkStatus commitAndRaise(PrintJobInfo page) {
    Json::Value args(Json::arrayValue);
    args.append(page.printQuantity);
    FakePrinterSdk::instance().record("commitJob", args);
    eventThread = std::thread([events = plannedEvents] {
        for (const PlannedEvent& e : events) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (e.type == 8) {
                PrintProgressInfo info{};
                info.page = 1;
                info.copies = e.copies;
                printerEventCallback(&info, 8);
            } else if (e.type == 9) {
                PrintErrorInfo info{2, 1, 0};
                printerEventCallback(&info, 9);
            }
        }
    });
    return 0;
}

class PicturePrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        service.thirdApi->libraryApi = FakeThirdLibrary::makeTable();
        third.labelJson = R"({"width":2,"height":1,"elements":[]})";
        third.imageBytes = std::string(2, '\0');
        recordingCommit = printerSdk.commitJob;
        printerSdk.commitJob = &commitAndRaise;
        plannedEvents.clear();
    }
    void TearDown() override {
        if (eventThread.joinable()) eventThread.join();
        third.reset();
    }
    std::string print(const std::string& parameter) {
        return *service.answerRequest(R"({"apiName":"picturePrint","parameter":)" + parameter + "}");
    }

    SdkStatus (*recordingCommit)(PrintJobInfo) = nullptr;
    FakePrinterSdk& fake = FakePrinterSdk::instance();
    FakeThirdLibrary& third = FakeThirdLibrary::instance();
    cKvPrinterService service{&FakePrinterSdk::load};
};

const std::string kDone =
    "{\"apiName\":\"picturePrint\",\"resultAck\":{\"errorCode\":0,\"info\":\"commitJob ok!\",\"result\":0}}\n";
const std::string kRefused =
    "{\"apiName\":\"picturePrint\",\"resultAck\":{\"errorCode\":26,\"info\":\"parameter json error\",\"result\":-1}}\n";

TEST_F(PicturePrintTest, AnswersWhenTheLastCopyIsPrinted) {
    plannedEvents = {{8, 1}, {8, 2}, {8, 3}};
    EXPECT_EQ(print(R"({"printQuantity":3,"printData":")" + std::string(kGif) + R"("})"), kDone);
    EXPECT_EQ(printedCopyCount.load(), 3);
    EXPECT_EQ(fake.lastArgs("commitJob")[0].asInt(), 3);
    // The picture became a one-image label of its own size in label units.
    EXPECT_EQ(third.lastArgs("InitDrawingBoard")[3][0].asString(), "ZT001.ttf");
    EXPECT_EQ(third.lastArgs("DrawLableImage")[0].asString(), kGif);
    EXPECT_TRUE(third.allGivenBack());
}

TEST_F(PicturePrintTest, WithoutAQuantityItWaitsForOneCopy) {
    plannedEvents = {{8, 1}};
    EXPECT_EQ(print(R"({"printData":")" + std::string(kGif) + R"("})"), kDone);
    EXPECT_EQ(fake.lastArgs("commitJob")[0].asInt(), 1);
}

TEST_F(PicturePrintTest, APrintErrorGivesAnEmptyAnswer) {
    plannedEvents = {{8, 1}, {9, 0}};
    LogCapture log;
    EXPECT_EQ(print(R"({"printQuantity":3,"printData":")" + std::string(kGif) + R"("})"), "");
    EXPECT_TRUE(log.contains("[ERROR]:updatePrintCount异常"));
    EXPECT_EQ(printErrorCode.load(), 2);
}

TEST_F(PicturePrintTest, CountersAreResetBeforeThePage) {
    printErrorCode.store(23);
    printedCopyCount.store(7);
    plannedEvents = {{8, 1}};
    EXPECT_EQ(print(R"({"printQuantity":1,"printData":")" + std::string(kGif) + R"("})"), kDone);
}

TEST_F(PicturePrintTest, ASdkRefusalIsAnsweredAtOnce) {
    printerSdk.commitJob = recordingCommit;
    fake.setResult<SdkStatus>("commitJob", -4);
    EXPECT_EQ(print(R"({"printQuantity":2,"printData":")" + std::string(kGif) + R"("})"),
              "{\"apiName\":\"picturePrint\",\"resultAck\":{\"errorCode\":-4,\"info\":\"printer disconnect\","
              "\"result\":-1}}\n");
}

TEST_F(PicturePrintTest, UnusableRequestsNeverReachTheSdk) {
    for (const char* parameter : {R"({"printQuantity":"2","printData":"R0lG"})", R"({"printData":5})",
                                  R"({"printData":["R0lG"]})", R"({"printQuantity":true,"printData":"R0lG"})", R"(7)"}) {
        EXPECT_EQ(print(parameter), kRefused) << parameter;
    }
    third.imageBytes.reset();
    EXPECT_EQ(print(R"({"printData":""})"), kRefused);
    EXPECT_EQ(print(R"({})"), kRefused);
    EXPECT_EQ(fake.callCount("commitJob"), 0);
}

// A count below 1 asks for no copies, as 0 does: the answer does not wait for any.
TEST_F(PicturePrintTest, ACountBelowOneIsAnsweredAtOnce) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(print(R"({"printQuantity":-1,"printData":")" + std::string(kGif) + R"("})"), kDone);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    EXPECT_EQ(fake.lastArgs("commitJob")[0].asInt(), -1);
}

// The quiet printer: without any progress the answer comes after the 30-second window.
TEST_F(PicturePrintTest, AQuietPrinterEndsTheWaitAsDone) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(print(R"({"printQuantity":2,"printData":")" + std::string(kGif) + R"("})"), kDone);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
}

}  // namespace
