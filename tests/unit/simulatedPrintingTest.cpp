// The simulated SDK's printing engine, loaded from the build's bin folder: copies printed on the
// SDK's own thread with one progress event each, the end of a job by its count, by endJob or as a
// page of its own, the printed copies written out as files, pause, resume, cancel and close
// acting on the printing, the scenario's print error, and the firmware upgrade's progress.
//
// Actions that must land between two particular copies are taken inside the event callback, on
// the SDK's thread, so that no test depends on how fast this machine is.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kvPrinter/printerSdkBinding.h"

namespace {

struct Event {
    int32_t type = 0;
    int32_t page = 0;
    int32_t copies = 0;
    double ribbon = 0.0;
    int32_t waitTime = -1;
    std::string epc;
    int32_t errorCode = 0;
    int32_t printState = 0;
    int32_t progress = 0;
};

std::mutex eventMutex;
std::vector<Event> events;
std::function<void(const Event&)> onEvent;  // runs inside the callback, on the SDK's thread

void recordEvent(void* payload, int32_t type) {
    Event e;
    e.type = type;
    if (type == 8) {
        const auto* p = static_cast<const PrintProgressInfo*>(payload);
        e.page = p->page;
        e.copies = p->copies;
        e.ribbon = p->ribbonLengthUsed;
        e.waitTime = p->waitTime;
        e.epc = std::string(p->epc, strnlen(p->epc, sizeof p->epc));
    } else if (type == 9) {
        const auto* p = static_cast<const PrintErrorInfo*>(payload);
        e.errorCode = p->errorCode;
        e.printState = p->printState;
    } else if (type == 15) {
        const auto* p = static_cast<const FirmwareProgressInfo*>(payload);
        e.progress = p->progress;
        e.errorCode = p->errorCode;
    }
    std::function<void(const Event&)> action;
    {
        std::lock_guard<std::mutex> lock(eventMutex);
        events.push_back(e);
        action = onEvent;
    }
    if (action) action(e);
}

std::vector<Event> eventsSoFar() {
    std::lock_guard<std::mutex> lock(eventMutex);
    return events;
}

// Polls with a deadline far beyond any pace used here.
bool waitFor(const std::function<bool(const std::vector<Event>&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done(eventsSoFar())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

size_t countOf(const std::vector<Event>& list, int32_t type) {
    return static_cast<size_t>(std::count_if(list.begin(), list.end(), [type](const Event& e) { return e.type == type; }));
}

std::function<bool(const std::vector<Event>&)> atLeast(int32_t type, size_t n) {
    return [type, n](const std::vector<Event>& list) { return countOf(list, type) >= n; };
}

// "type:page/copy" per event, to compare whole sequences at a glance.
std::string summary(const std::vector<Event>& list) {
    std::string text;
    for (const Event& e : list) {
        if (!text.empty()) text += " ";
        text += std::to_string(e.type);
        if (e.type == 8) text += ":" + std::to_string(e.page) + "/" + std::to_string(e.copies);
        if (e.type == 9) text += ":" + std::to_string(e.errorCode) + "/" + std::to_string(e.printState);
        if (e.type == 15) text += ":" + std::to_string(e.progress) + "/" + std::to_string(e.errorCode);
    }
    return text;
}

// A page of packed 1-bit rows: width 16, `rows` rows, each byte `fill`.
struct Page {
    std::vector<unsigned char> bytes;
    PrintJobInfo info{};
};

Page page(int32_t width, int32_t height, int32_t quantity, unsigned char fill = 0xA5, const std::string& epc = "") {
    Page p;
    p.bytes.assign(static_cast<size_t>((width + 7) / 8) * height, fill);
    p.info.imageData = p.bytes.data();
    p.info.imageSize = static_cast<int32_t>(p.bytes.size());
    p.info.width = width;
    p.info.height = height;
    p.info.printQuantity = quantity;
    std::strncpy(p.info.epc, epc.c_str(), sizeof p.info.epc - 1);
    return p;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

class SimulatedPrintingTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = std::string(KV_TEST_DIR) + "/simprint-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        output = base + "-out";
        std::filesystem::remove_all(output);
        setenv("KVSIM_OUTPUT", output.c_str(), 1);
        unsetenv("KVSIM_TRACE");
        unsetenv("KVSIM_SCENARIO");
        {
            std::lock_guard<std::mutex> lock(eventMutex);
            events.clear();
            onEvent = nullptr;
        }
    }
    void TearDown() override {
        if (printerSdkLoaded()) {
            printerSdk.unInitSdk();
            unloadPrinterSdk();
        }
        {
            std::lock_guard<std::mutex> lock(eventMutex);
            onEvent = nullptr;
        }
        std::filesystem::remove_all(output);
        std::remove((base + ".json").c_str());
        unsetenv("KVSIM_OUTPUT");
        unsetenv("KVSIM_SCENARIO");
    }
    // Starts the SDK with the scenario (JSON text) and connects the default USB printer.
    void start(const std::string& scenario = R"({"pageMs": 10})", bool connect = true) {
        std::ofstream(base + ".json") << scenario;
        setenv("KVSIM_SCENARIO", (base + ".json").c_str(), 1);
        ASSERT_TRUE(loadPrinterSdk(std::string(KV_BIN_DIR) + "/libkvPrinterSdk.so"));
        printerSdk.initSdk();
        printerSdk.registCallback(&recordEvent);
        if (connect) {
            UsbPrinterInfo usb{};
            std::strcpy(usb.name, "KV-USB-01");
            ASSERT_EQ(printerSdk.connectUsbPrinter(usb), 0);
        }
    }
    void setOnEvent(std::function<void(const Event&)> action) {
        std::lock_guard<std::mutex> lock(eventMutex);
        onEvent = std::move(action);
    }
    std::vector<std::string> outputFiles() const {
        std::vector<std::string> names;
        if (!std::filesystem::exists(output)) return names;
        for (const auto& entry : std::filesystem::directory_iterator(output)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A settle period after which a wrongly raised event would have shown up; its absence is
    // what is checked, so a slow machine cannot make the check fail.
    void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

    std::string base;
    std::string output;
};

TEST_F(SimulatedPrintingTest, AStartedJobEndsWhenItsCountOfPagesIsPrinted) {
    start();
    ASSERT_EQ(printerSdk.startJob({0, 1, 2}), 0);
    Page first = page(16, 16, 2, 0xF0, "EPC-1");
    Page second = page(16, 24, 1, 0x0F);
    ASSERT_EQ(printerSdk.commitJob(first.info), 0);
    ASSERT_EQ(printerSdk.commitJob(second.info), 0);
    // The pages were copied during the calls.
    std::fill(first.bytes.begin(), first.bytes.end(), 0);
    std::fill(second.bytes.begin(), second.bytes.end(), 0);

    ASSERT_TRUE(waitFor(atLeast(10, 1))) << summary(eventsSoFar());
    settle();
    const std::vector<Event> seen = eventsSoFar();
    EXPECT_EQ(summary(seen), "8:1/1 8:1/2 8:2/1 10");
    EXPECT_EQ(seen[0].ribbon, 2.0);  // 16 dots at 8 a millimetre
    EXPECT_EQ(seen[1].ribbon, 4.0);
    EXPECT_EQ(seen[2].ribbon, 7.0);
    EXPECT_EQ(seen[0].epc, "EPC-1");
    EXPECT_EQ(seen[2].epc, "");
    EXPECT_EQ(seen[0].waitTime, 0);

    const std::vector<std::string> files = outputFiles();
    ASSERT_EQ(files, (std::vector<std::string>{"000001-page-0001-copy-01.pbm", "000002-page-0001-copy-02.pbm",
                                               "000003-page-0002-copy-01.pbm"}));
    EXPECT_EQ(readFile(output + "/" + files[0]), "P4\n16 16\n" + std::string(32, '\xF0'));
    EXPECT_EQ(readFile(output + "/" + files[2]), "P4\n16 24\n" + std::string(48, '\x0F'));
    // Ending it afterwards raises nothing more.
    EXPECT_EQ(printerSdk.endJob(), 0);
    settle();
    EXPECT_EQ(countOf(eventsSoFar(), 10), 1u);
}

TEST_F(SimulatedPrintingTest, APageOutsideAJobIsAJobOfItsOwn) {
    start();
    Page single = page(8, 8, 0);  // fewer than one copy asked: one is printed
    ASSERT_EQ(printerSdk.commitJob(single.info), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 1)));
    Page twice = page(8, 8, 2);
    ASSERT_EQ(printerSdk.commitJob(twice.info), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 2)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 10 8:1/1 8:1/2 10");
}

TEST_F(SimulatedPrintingTest, AJobWithoutCountEndsOnlyOnceEndJobIsCalled) {
    start();
    ASSERT_EQ(printerSdk.startJob({0, 1, 0}), 0);
    Page one = page(8, 8, 1);
    ASSERT_EQ(printerSdk.commitJob(one.info), 0);
    ASSERT_TRUE(waitFor(atLeast(8, 1)));
    settle();
    EXPECT_EQ(countOf(eventsSoFar(), 10), 0u);
    ASSERT_EQ(printerSdk.endJob(), 0);  // every page printed already: complete now
    ASSERT_TRUE(waitFor(atLeast(10, 1)));

    // Ended before its pages are printed: complete with the last copy.
    ASSERT_EQ(printerSdk.startJob({0, 1, 0}), 0);
    Page three = page(8, 8, 3);
    ASSERT_EQ(printerSdk.commitJob(three.info), 0);
    ASSERT_EQ(printerSdk.endJob(), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 2)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 10 8:1/1 8:1/2 8:1/3 10");
}

TEST_F(SimulatedPrintingTest, PauseHoldsAfterTheCurrentCopyUntilResume) {
    start();
    setOnEvent([](const Event& e) {
        if (e.type == 8 && e.copies == 2) printerSdk.pausePrint();
    });
    Page five = page(8, 8, 5);
    ASSERT_EQ(printerSdk.commitJob(five.info), 0);
    ASSERT_TRUE(waitFor(atLeast(8, 2)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 8:1/2");
    setOnEvent(nullptr);
    ASSERT_EQ(printerSdk.resumePrint(), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 1)));
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 8:1/2 8:1/3 8:1/4 8:1/5 10");
    EXPECT_EQ(outputFiles().size(), 5u);
}

TEST_F(SimulatedPrintingTest, CancelDropsTheWaitingCopiesWithoutEndingTheJob) {
    start();
    setOnEvent([](const Event& e) {
        if (e.type == 8 && e.copies == 2) printerSdk.cancelJob();
    });
    ASSERT_EQ(printerSdk.startJob({0, 1, 1}), 0);
    Page many = page(8, 8, 6);
    ASSERT_EQ(printerSdk.commitJob(many.info), 0);
    ASSERT_TRUE(waitFor(atLeast(8, 2)));
    ASSERT_EQ(printerSdk.endJob(), 0);
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 8:1/2");

    // A paused printer that is cancelled prints the next job at once.
    setOnEvent(nullptr);
    ASSERT_EQ(printerSdk.pausePrint(), 0);
    ASSERT_EQ(printerSdk.cancelJob(), 0);
    ASSERT_EQ(printerSdk.startJob({0, 1, 1}), 0);
    Page next = page(8, 8, 1);
    ASSERT_EQ(printerSdk.commitJob(next.info), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 1)));
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 8:1/2 8:1/1 10");
}

TEST_F(SimulatedPrintingTest, ClosingThePrinterStopsThePrinting) {
    start();
    setOnEvent([](const Event& e) {
        if (e.type == 8 && e.copies == 1) printerSdk.closePrinter();
    });
    Page many = page(8, 8, 4);
    ASSERT_EQ(printerSdk.commitJob(many.info), 0);
    ASSERT_TRUE(waitFor(atLeast(8, 1)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1");
    EXPECT_EQ(printerSdk.resumePrint(), -4);
}

TEST_F(SimulatedPrintingTest, APrintErrorThatPausesPrintsItsCopyOnResume) {
    start(R"({"pageMs": 10, "printError": {"atCopy": 3, "errorCode": 2, "printState": 1}})");
    Page one = page(8, 8, 1);
    ASSERT_EQ(printerSdk.commitJob(one.info), 0);  // copy 1 since initSdk
    ASSERT_TRUE(waitFor(atLeast(10, 1)));
    Page three = page(8, 8, 3);
    ASSERT_EQ(printerSdk.commitJob(three.info), 0);  // its second copy is the third since initSdk
    ASSERT_TRUE(waitFor(atLeast(9, 1)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 10 8:1/1 9:2/1");
    ASSERT_EQ(printerSdk.resumePrint(), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 2)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 10 8:1/1 9:2/1 8:1/2 8:1/3 10");
}

TEST_F(SimulatedPrintingTest, APrintErrorThatCancelsEndsTheJobWithoutEvent10) {
    start(R"({"pageMs": 10, "printError": {"atCopy": 2, "errorCode": 16, "printState": 2}})");
    ASSERT_EQ(printerSdk.startJob({0, 1, 2}), 0);
    Page first = page(8, 8, 1);
    Page second = page(8, 8, 1);
    ASSERT_EQ(printerSdk.commitJob(first.info), 0);
    ASSERT_EQ(printerSdk.commitJob(second.info), 0);
    ASSERT_TRUE(waitFor(atLeast(9, 1)));
    printerSdk.endJob();
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "8:1/1 9:16/2");
    EXPECT_EQ(outputFiles().size(), 1u);
}

TEST_F(SimulatedPrintingTest, PagesOfAnotherSizeAreWrittenAsRawBytesAndMissingBytesRefused) {
    start();
    // Sizes that promise bytes it was not given are refused.
    PrintJobInfo noBytes{};
    noBytes.imageSize = 10;
    EXPECT_EQ(printerSdk.commitJob(noBytes), -1);
    noBytes.imageSize = -1;
    EXPECT_EQ(printerSdk.commitJob(noBytes), -1);
    EXPECT_EQ(printerSdk.upgradeFirmware(FirmwareUpgradeInfo{nullptr, 10, {}, {}}), -1);
    Page odd = page(10, 3, 1);
    odd.bytes.resize(5);  // not 2 bytes a row by 3 rows
    odd.info.imageData = odd.bytes.data();
    odd.info.imageSize = 5;
    ASSERT_EQ(printerSdk.commitJob(odd.info), 0);
    ASSERT_TRUE(waitFor(atLeast(10, 1)));
    const std::vector<std::string> files = outputFiles();
    ASSERT_EQ(files, std::vector<std::string>{"000001-page-0001-copy-01.bin"});
    EXPECT_EQ(readFile(output + "/" + files[0]), std::string(5, '\xA5'));
}

TEST_F(SimulatedPrintingTest, JobExportsNeedAConnectedPrinterAndHonourTheScenario) {
    start(R"({"pageMs": 10, "status": {"commitJob": -2}})", false);
    Page one = page(8, 8, 1);
    FirmwareUpgradeInfo firmware{};
    EXPECT_EQ(printerSdk.startJob({0, 1, 1}), -4);
    EXPECT_EQ(printerSdk.endJob(), -4);
    EXPECT_EQ(printerSdk.pausePrint(), -4);
    EXPECT_EQ(printerSdk.resumePrint(), -4);
    EXPECT_EQ(printerSdk.cancelJob(), -4);
    EXPECT_EQ(printerSdk.upgradeFirmware(firmware), -4);

    UsbPrinterInfo usb{};
    std::strcpy(usb.name, "KV-USB-01");
    ASSERT_EQ(printerSdk.connectUsbPrinter(usb), 0);
    EXPECT_EQ(printerSdk.commitJob(one.info), -2);
    EXPECT_EQ(printerSdk.startJob({0, 1, 1}), 0);
    settle();
    EXPECT_TRUE(eventsSoFar().empty());
    EXPECT_TRUE(outputFiles().empty());
}

// ---- firmware ----

// CRC-32 of "123456789" is CBF43926.
FirmwareUpgradeInfo firmwareOf(std::vector<unsigned char>& data, const char* crc) {
    FirmwareUpgradeInfo info{};
    info.fileData = data.data();
    info.fileSize = static_cast<int32_t>(data.size());
    std::strncpy(info.crc, crc, sizeof info.crc - 1);
    std::strcpy(info.swVersion, "2.0.1");
    return info;
}

TEST_F(SimulatedPrintingTest, FirmwareProgressIsReportedInTensAndAWrongCrcIsRefused) {
    const std::string tens = "15:0/0 15:10/0 15:20/0 15:30/0 15:40/0 15:50/0 15:60/0 15:70/0 15:80/0 15:90/0";
    const struct {
        const char* crc;
        std::string progress;
    } cases[] = {
        {"cbf43926", tens + " 15:100/0"},
        {"CBF43926", tens + " 15:100/0"},
        {"", tens + " 15:100/0"},
        {"cbf43927", tens + " 15:90/52"},
        {"cbf4392", tens + " 15:90/52"},
    };
    for (const auto& c : cases) {
        start();
        {
            std::vector<unsigned char> data = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
            ASSERT_EQ(printerSdk.upgradeFirmware(firmwareOf(data, c.crc)), 0);
        }  // the caller's buffer is gone: the SDK copied what it needs
        ASSERT_TRUE(waitFor(atLeast(15, 11))) << c.crc;
        settle();
        EXPECT_EQ(summary(eventsSoFar()), c.progress) << c.crc;
        printerSdk.unInitSdk();
        unloadPrinterSdk();
        std::lock_guard<std::mutex> lock(eventMutex);
        events.clear();
    }
}

TEST_F(SimulatedPrintingTest, ClosingThePrinterStopsAFirmwareUpgrade) {
    start();
    setOnEvent([](const Event& e) {
        if (e.type == 15 && e.progress == 30) printerSdk.closePrinter();
    });
    std::vector<unsigned char> data(64, 7);
    ASSERT_EQ(printerSdk.upgradeFirmware(firmwareOf(data, "")), 0);
    ASSERT_TRUE(waitFor(atLeast(15, 4)));
    settle();
    EXPECT_EQ(summary(eventsSoFar()), "15:0/0 15:10/0 15:20/0 15:30/0");
}

}  // namespace
