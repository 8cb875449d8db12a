// The request queue and its worker: which texts a stop request is made of, requests of equal
// priority in their order of arrival, the discard on a stop, and a worker that runs requests in
// that order, survives them, sleeps while there is nothing to do and stops when told.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printServer.h"
#include "kvPrinter/printerSdkBinding.h"
#include "tests/support/fakePrinterSdk.h"
#include "tests/support/logCapture.h"

namespace {

void clearQueue() {
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    printTaskQueue.tasks.clear();
}

// The messages in the order takePrintTask hands them out, until the queue is empty.
std::vector<std::string> drain() {
    std::vector<std::string> out;
    while (std::optional<PrintTask> task = takePrintTask()) out.push_back(task->message);
    return out;
}

class PrintQueueTest : public ::testing::Test {
protected:
    void SetUp() override { clearQueue(); }
    void TearDown() override { clearQueue(); }
};

TEST_F(PrintQueueTest, PriorityThreeExactlyWhenTheBytesStopPrintStandAnywhere) {
    const struct {
        const char* text;
        int priority;
    } rows[] = {
        {R"({"apiName":"stopPrint"})", 3},
        {R"({"apiName":"getPower","parameter":{"note":"stopPrint"}})", 3},
        {R"({"stopPrint":1})", 3},
        {"stopPrint", 3},
        {"not json at all, but stopPrinting", 3},
        {R"({"apiName":"StopPrint"})", 1},
        {R"({"apiName":"stopprint"})", 1},
        {R"({"apiName":"stop Print"})", 1},
        {"stopPrin", 1},
        {"", 1},
        {R"({"apiName":"cancelJob"})", 1},
    };
    for (const auto& row : rows) {
        pushPrintTask("client", row.text);
        std::optional<PrintTask> task = takePrintTask();
        ASSERT_TRUE(task) << row.text;
        EXPECT_EQ(task->priority, row.priority) << row.text;
        EXPECT_EQ(task->message, row.text);
        EXPECT_EQ(task->clientId, "client");
    }
}

TEST_F(PrintQueueTest, EqualPrioritiesComeOutInTheirOrderOfArrival) {
    // In heap order four came out A, C, B, D, and with several clients looping some were never
    // served.
    for (size_t n = 1; n <= 12; ++n) {
        std::vector<std::string> queued;
        for (size_t i = 0; i < n; ++i) queued.push_back(std::string(1, static_cast<char>('A' + i)));
        for (const std::string& m : queued) pushPrintTask("client", m);
        EXPECT_EQ(drain(), queued) << "queued " << n;
    }
    // Taking one in between keeps the order of the rest.
    for (const char* m : {"A", "B", "C"}) pushPrintTask("client", m);
    ASSERT_EQ(takePrintTask()->message, "A");
    for (const char* m : {"D", "E"}) pushPrintTask("client", m);
    EXPECT_EQ(drain(), (std::vector<std::string>{"B", "C", "D", "E"}));
}

TEST_F(PrintQueueTest, AQueuedTextIsHandedOnWithoutACopy) {
    std::string text(4096, 'x');
    const char* const bytes = text.data();
    pushPrintTask("client", std::move(text));
    std::optional<PrintTask> task = takePrintTask();
    ASSERT_TRUE(task);
    EXPECT_EQ(task->message.data(), bytes);
}

TEST_F(PrintQueueTest, StopOvertakesAndDiscardsEveryWaitingRequest) {
    pushPrintTask("a", "A");
    pushPrintTask("b", "B");
    pushPrintTask("c", R"({"apiName":"stopPrint"})");
    pushPrintTask("a", "D");
    const auto halfReadBegun = std::chrono::steady_clock::now();
    std::optional<PrintTask> stop = takePrintTask();
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->clientId, "c");
    EXPECT_EQ(stop->priority, 3);
    EXPECT_FALSE(takePrintTask()) << "requests of every client are discarded";

    // So is one that was still being read then, and only those queued after the stop wait as usual.
    pushPrintTask("b", "half read", {}, halfReadBegun);
    pushPrintTask("a", "E");
    EXPECT_EQ(drain(), std::vector<std::string>{"E"});
}

TEST_F(PrintQueueTest, TheFirstOfTwoWaitingStopsDiscardsTheSecond) {
    pushPrintTask("a", "A");
    pushPrintTask("a", "stopPrint 1");
    pushPrintTask("b", "stopPrint 2");
    EXPECT_EQ(drain(), std::vector<std::string>{"stopPrint 1"});
}

TEST_F(PrintQueueTest, AStopIntoAnEmptyQueueIsTakenLikeAnyOther) {
    pushPrintTask("a", R"({"apiName":"stopPrint"})");
    EXPECT_EQ(drain(), std::vector<std::string>{R"({"apiName":"stopPrint"})"});
    EXPECT_FALSE(takePrintTask());
}

// ---- the worker ----------------------------------------------------------------------------

// The service logs every request it runs, first thing; these are the requests in run order.
std::vector<std::string> requestsRun(const LogCapture& log) {
    const std::string prefix = "[INFO]:cKvPrinterService::callPrintApi: ";
    std::vector<std::string> out;
    for (const std::string& m : log.messages()) {
        if (m.rfind(prefix, 0) == 0) out.push_back(m.substr(prefix.size()));
    }
    return out;
}

bool waitFor(const std::function<bool()>& condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class PrintWorkerTest : public PrintQueueTest {
protected:
    void SetUp() override {
        PrintQueueTest::SetUp();
        printerService = new cKvPrinterService(&FakePrinterSdk::load);
        setCurrentClientId("");
    }
    void TearDown() override {
        stopPrintWorker();
        delete printerService;
        printerService = nullptr;
        PrintQueueTest::TearDown();
    }
    LogCapture log;
};

TEST_F(PrintWorkerTest, RunsWaitingRequestsInArrivalOrderAndRemembersTheLastClient) {
    pushPrintTask("client-a", "A");
    pushPrintTask("client-b", "B");
    pushPrintTask("client-c", "C");
    pushPrintTask("client-d", "D");
    startPrintWorker();
    ASSERT_TRUE(waitFor([&] { return requestsRun(log).size() == 4; }));
    EXPECT_EQ(requestsRun(log), (std::vector<std::string>{"A", "B", "C", "D"}));
    ASSERT_TRUE(waitFor([] { return getCurrentClientId() == "client-d"; }));
}

// Voluntary context switches of every thread of this process so far.
long voluntarySwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

TEST_F(PrintWorkerTest, AnIdleWorkerSleepsUntilARequestArrives) {
    // It used to look at the queue every 10 ms: a hundred wake-ups a second with nothing to do.
    startPrintWorker();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long before = voluntarySwitches();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(voluntarySwitches() - before, 10);
    pushPrintTask("a", R"({"apiName":"pausePrint"})");
    ASSERT_TRUE(waitFor([] { return FakePrinterSdk::instance().callCount("pausePrint") == 1; }));
}

TEST_F(PrintWorkerTest, AStopRunsAloneAndTheWorkerGoesOnAfterIt) {
    pushPrintTask("a", R"({"apiName":"pausePrint"})");
    pushPrintTask("a", R"({"apiName":"resumePrint"})");
    pushPrintTask("b", R"({"apiName":"stopPrint"})");
    startPrintWorker();
    ASSERT_TRUE(waitFor([&] { return !requestsRun(log).empty(); }));
    pushPrintTask("a", R"({"apiName":"resumePrint"})");
    ASSERT_TRUE(waitFor([&] { return requestsRun(log).size() == 2; }));
    EXPECT_EQ(requestsRun(log),
              (std::vector<std::string>{R"({"apiName":"stopPrint"})", R"({"apiName":"resumePrint"})"}));
    EXPECT_EQ(FakePrinterSdk::instance().callCount("pausePrint"), 0);
}

TEST_F(PrintWorkerTest, UnusableRequestsDoNotStopTheWorker) {
    for (const char* bad : {"", "not json", "[1,2]", R"({"apiName":{"x":1}})", R"({"apiName":"pausePrint")"}) {
        pushPrintTask("a", bad);
    }
    startPrintWorker();
    ASSERT_TRUE(waitFor([&] { return requestsRun(log).size() == 5; }));
    pushPrintTask("a", R"({"apiName":"pausePrint"})");
    ASSERT_TRUE(waitFor([] { return FakePrinterSdk::instance().callCount("pausePrint") == 1; }));
}

TEST_F(PrintWorkerTest, AfterTheStopNothingMoreIsTaken) {
    startPrintWorker();
    stopPrintWorker();
    EXPECT_FALSE(printWorkThread.joinable());
    pushPrintTask("a", "A");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(requestsRun(log).empty());
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    EXPECT_EQ(printTaskQueue.tasks.size(), 1u);
}

// ---- answers to clients that are not there, and the disconnect path -------------------------

TEST_F(PrintWorkerTest, ADisconnectLeavesTheNameOfTheRequestBeingAnswered) {
    // Another client's request is being served: its answer must keep the request's own name.
    printerService->setCurrentApiName("getPrintMode");
    FakePrinterSdk::instance().clearCalls();
    onClientDisconnect();
    EXPECT_EQ(FakePrinterSdk::instance().callNames(), (std::vector<std::string>{"endJob", "closePrinter"}));
    EXPECT_EQ(printerService->getCurrentApiName(), "getPrintMode");
    // Asked for by a client, the two operations still take their own names.
    printerService->endJobApi();
    EXPECT_EQ(printerService->getCurrentApiName(), "endJob");
    printerService->closePrinterApi();
    EXPECT_EQ(printerService->getCurrentApiName(), "closePrinter");
}

TEST(PrintServerDisconnect, NeedsNeitherAServiceNorALoadedSdk) {
    ASSERT_EQ(printerService, nullptr);
    onClientDisconnect();

    FakePrinterSdk::instance().install();
    unloadPrinterSdk();  // the table is empty: any call would crash
    printerService = new cKvPrinterService([] { return false; });
    onClientDisconnect();
    delete printerService;
    printerService = nullptr;
    EXPECT_TRUE(FakePrinterSdk::instance().calls().empty());
}

}  // namespace
