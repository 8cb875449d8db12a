// The log set-up: the console lines about the log folder, the folder it makes, the settings it
// gives the logging library, the first lines of the log file and the shut-down. Each test sets
// logging up and shuts it down again, so each writes into a folder of its own.
#include <gtest/gtest.h>
#include <glog/logging.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "unit/log/log.h"

namespace {

namespace fs = std::filesystem;

// The log lines of the INFO file in a folder, whole, without the library's own header lines.
std::vector<std::string> infoLines(const fs::path& dir) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".log.INFO.") == std::string::npos || fs::is_symlink(entry.path())) continue;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] != 'I' || line.find("] ") == std::string::npos) continue;
            lines.push_back(line);
        }
    }
    return lines;
}

// Their messages, after the line header.
std::vector<std::string> infoMessages(const fs::path& dir) {
    std::vector<std::string> messages;
    for (const std::string& line : infoLines(dir)) messages.push_back(line.substr(line.find("] ") + 2));
    return messages;
}

// One log statement, so that both ways of streaming the text get the same line header.
struct Streamed {
    const std::string& text;
    bool kept;
};
std::ostream& operator<<(std::ostream& line, const Streamed& s) {
    return s.kept ? line << keptInLog(s.text) : line << s.text;
}
void logReceived(const std::string& text, bool kept) {
    LOG(INFO) << "[INFO]:" << "receive msg is " << Streamed{text, kept};
}

class LogSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = fs::path(KV_TEST_DIR) / "work" / (std::string("LogSetup.") + info->name());
        fs::remove_all(root);
        fs::create_directories(root);
        // The library's default folder, used when the folder it is given is empty.
        setenv("TMPDIR", root.c_str(), 1);
    }
    void TearDown() override {
        if (google::IsGoogleLoggingInitialized()) unInitLog();
        unsetenv("TMPDIR");
    }

    // Runs initLog and returns what it printed.
    static std::string initLogPrinting(const std::string& dir) {
        ::testing::internal::CaptureStdout();
        initLog(dir);
        return ::testing::internal::GetCapturedStdout();
    }

    fs::path root;
};

TEST_F(LogSetupTest, AMissingFolderIsReportedMadeAndGetsTheFirstLinesOfTheLog) {
    const std::string dir = (root / "velmoroSecondaryDevelopSDKLog").string();
    EXPECT_EQ(initLogPrinting(dir), dir + " is not existing\nmake successfully\n");
    EXPECT_TRUE(fs::is_directory(dir));
    LOG(INFO) << "[INFO]:after the set-up";
    const std::vector<std::string> messages = infoMessages(dir);
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0], "initLog()");
    EXPECT_EQ(messages[1], "log dir:" + dir);
    EXPECT_EQ(messages[2], "[INFO]:after the set-up") << "lines reach the file at once";
}

TEST_F(LogSetupTest, AnExistingFolderPrintsNothing) {
    const std::string dir = (root / "present").string();
    fs::create_directories(dir);
    EXPECT_EQ(initLogPrinting(dir), "");
    EXPECT_EQ(infoMessages(dir).at(0), "initLog()");
}

TEST_F(LogSetupTest, AFolderThatCannotBeMadeIsReportedAndLoggingStartsAllTheSame) {
    const std::string nested = (root / "missing-parent" / "log").string();
    EXPECT_EQ(initLogPrinting(nested), nested + " is not existing\nmake failed\n");
    EXPECT_FALSE(fs::exists(nested)) << "one level only";
    EXPECT_TRUE(google::IsGoogleLoggingInitialized());
}

TEST_F(LogSetupTest, AnEmptyFolderFailsToBeMadeAndTheLibraryUsesItsDefault) {
    EXPECT_EQ(initLogPrinting(""), " is not existing\nmake failed\n");
    const std::vector<std::string> messages = infoMessages(root);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "initLog()");
    EXPECT_EQ(messages[1], "log dir:");
}

TEST_F(LogSetupTest, ShutDownLogsItsLineLastAndLoggingCanBeSetUpAgain) {
    const std::string dir = (root / "first").string();
    initLogPrinting(dir);
    unInitLog();
    EXPECT_FALSE(google::IsGoogleLoggingInitialized());
    EXPECT_EQ(infoMessages(dir).back(), "unInitLog()");

    const std::string again = (root / "again").string();
    initLogPrinting(again);
    EXPECT_EQ(infoMessages(again).at(0), "initLog()");
}

// The library keeps the first 29,998 bytes of a line, its header included, and a line break.
// Streaming only those bytes of a long request gives the file the very same line.
TEST_F(LogSetupTest, ATextStreamedAsFarAsTheLineKeepsItGivesTheSameLine) {
    const std::string dir = (root / "long").string();
    initLogPrinting(dir);
    std::string request;
    while (request.size() < 100000) request += std::to_string(request.size()) + ",";
    const std::vector<std::string> texts = {request, request.substr(0, 29950), "short", ""};
    for (const std::string& text : texts) {
        logReceived(text, false);
        logReceived(text, true);
    }

    const std::vector<std::string> lines = infoLines(dir);
    ASSERT_EQ(lines.size(), 2 + 2 * texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& whole = lines[2 + 2 * i];
        const std::string& kept = lines[3 + 2 * i];
        // The same but for the time in the header ("IYYYYMMDD hh:mm:ss.uuuuuu").
        EXPECT_EQ(kept.size(), whole.size()) << i;
        EXPECT_EQ(kept.substr(26), whole.substr(26)) << i;
        const std::string message = kept.substr(kept.find("] ") + 2);
        const std::string full = "[INFO]:receive msg is " + texts[i];
        EXPECT_EQ(message, full.substr(0, message.size())) << i;
        if (message.size() < full.size()) {
            EXPECT_EQ(kept.size(), 29998u) << i;
        }
    }
    EXPECT_LT(lines[2].size(), request.size());
}

TEST_F(LogSetupTest, WithoutTheMarkerBesideTheProgramNothingIsSetUp) {
    ASSERT_FALSE(fs::exists(fs::path(KV_TEST_DIR) / "velmoroSdk.ini"));
    setenv("PROGRAMDATA", root.c_str(), 1);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(initLogFromConfig());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(google::IsGoogleLoggingInitialized());
    EXPECT_FALSE(fs::exists(root / "velmoroSecondaryDevelopSDKLog"));
    unsetenv("PROGRAMDATA");
}

}  // namespace
