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

// The log messages of the INFO file in a folder, without the library's own header lines.
std::vector<std::string> infoMessages(const fs::path& dir) {
    std::vector<std::string> messages;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".log.INFO.") == std::string::npos || fs::is_symlink(entry.path())) continue;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            const size_t end = line.find("] ");
            if (line.empty() || line[0] != 'I' || end == std::string::npos) continue;
            messages.push_back(line.substr(end + 2));
        }
    }
    return messages;
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
