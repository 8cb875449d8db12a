// Start-up and shutdown of the real program: what it logs when it starts, what it does when the
// port is taken, and the log set-up that the marker file beside the program switches on.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/serviceFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Holds port 37989 while it lives, as another program would.
class PortBlocker {
public:
    PortBlocker() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kvtest::kServicePort);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        // Connections of earlier tests may linger on the port; they do not stop a listener.
        const int on = 1;
        if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(fd_, 1) == 0;
    }
    ~PortBlocker() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }

private:
    int fd_ = -1;
    bool bound_ = false;
};

// The log messages (after "] ") of the lines of a text, in order.
std::vector<std::string> logMessages(const std::string& text) {
    std::vector<std::string> messages;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t end = line.find("] ");
        if (!line.empty() && std::string("IWEF").find(line[0]) != std::string::npos && end != std::string::npos) {
            messages.push_back(line.substr(end + 2));
        }
    }
    return messages;
}

// The messages of the INFO log file in a folder.
std::vector<std::string> infoFileMessages(const fs::path& dir) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("kvPrinter.", 0) == 0 && name.find(".log.INFO.") != std::string::npos &&
            !fs::is_symlink(entry.path())) {
            return logMessages(kvtest::readFile(entry.path().string()));
        }
    }
    return {};
}

class Startup : public kvtest::ServiceTest {
protected:
    // A copy of the program and its libraries in a folder of the test's own, with or without the
    // marker file beside it; the common application-data folder is the test's too.
    kvtest::ServiceOptions optionsWithOwnProgram(bool marker) {
        kvtest::ServiceOptions options = defaultOptions();
        const fs::path app = fs::path(options.workDir) / "app";
        fs::create_directories(app);
        for (const fs::directory_entry& entry : fs::directory_iterator(kvtest::serviceBinDir())) {
            if (entry.is_regular_file()) fs::copy_file(entry.path(), app / entry.path().filename());
        }
        if (marker) std::ofstream(app / "velmoroSdk.ini") << "[not read]\n";
        programData = fs::path(options.workDir) / "programdata";
        fs::create_directories(programData);
        options.binary = (app / "kvPrinter").string();
        options.environment["PROGRAMDATA"] = programData.string();
        return options;
    }

    fs::path logFolder() const { return programData / "velmoroSecondaryDevelopSDKLog"; }

    fs::path programData;
};

TEST_F(Startup, LogsTheListenerThenTheFirstWaitingConnectionBeforeAnyClient) {
    startService();
    ASSERT_TRUE(service().waitForStderr("[INFO]:current custom id: "));
    const std::vector<std::string> messages = logMessages(service().stderrText());
    const auto listening = std::find(messages.begin(), messages.end(), "[INFO]:Server start on port : 37989");
    ASSERT_NE(listening, messages.end());
    ASSERT_NE(listening + 1, messages.end());
    EXPECT_TRUE(std::regex_match(*(listening + 1), std::regex(R"(\[INFO\]:current custom id: [0-9a-f-]{36})")))
        << *(listening + 1);
}

TEST_F(Startup, TheSoftDescriptorLimitIsRaisedToTheHardOne) {
    // Started with a soft limit far below the hard one, as is common, it ran out of descriptors
    // long before the system would have let it.
    rlimit own{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
    if (own.rlim_max <= 256) GTEST_SKIP() << "the hard limit is too low to lower the soft one";
    rlimit low = own;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    startService();
    setrlimit(RLIMIT_NOFILE, &own);
    rlimit started{};
    ASSERT_EQ(prlimit(service().pid(), RLIMIT_NOFILE, nullptr, &started), 0);
    EXPECT_EQ(started.rlim_cur, own.rlim_max);
}

TEST_F(Startup, APortAlreadyTakenIsLoggedTwiceAndTheProgramEndsWith1) {
    PortBlocker blocker;
    ASSERT_TRUE(blocker.bound()) << "port 37989 is in use by someone else";
    service_ = std::make_unique<kvtest::ServiceProcess>(defaultOptions());
    ASSERT_TRUE(service_->launch());
    EXPECT_EQ(service_->waitForExit(60s), std::optional<int>(1));

    const std::vector<std::string> messages = logMessages(service_->stderrText());
    std::vector<std::string> errors;
    for (const std::string& m : messages) {
        if (m.rfind("[ERROR]:", 0) == 0) errors.push_back(m);
    }
    ASSERT_EQ(errors.size(), 2u) << service_->stderrText();
    EXPECT_EQ(errors[0].rfind("[ERROR]:bind: ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find("Address already in use"), std::string::npos) << errors[0];
    EXPECT_TRUE(std::regex_match(errors[1], std::regex(R"(\[ERROR\]:[0-9]+)"))) << errors[1];
    // The printer service was deleted: it ended the SDK.
    const std::vector<std::string> calls = service_->traceCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "unInitSdk");
}

TEST_F(Startup, WithTheMarkerAMissingLogFolderIsMadeAndHoldsTheLog) {
    startService(optionsWithOwnProgram(true));
    const std::string dir = logFolder().string();
    EXPECT_TRUE(service().waitForStdout("make successfully"));
    // The rendering libraries' loader speaks first; the log set-up comes after it.
    const std::string console = service().stdoutText();
    const size_t logLines = console.find(dir + " is not existing\nmake successfully\n");
    EXPECT_NE(logLines, std::string::npos) << console;
    EXPECT_LT(console.find("pelixPath="), logLines) << console;
    ASSERT_TRUE(fs::is_directory(dir));
    const std::vector<std::string> messages = infoFileMessages(dir);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "initLog()");
    EXPECT_EQ(messages[1], "log dir:" + dir);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "[INFO]:Server start on port : 37989"), messages.end());
}

TEST_F(Startup, WithTheMarkerAndTheFolderPresentNothingIsPrintedAndShutdownIsLoggedLast) {
    PortBlocker blocker;
    ASSERT_TRUE(blocker.bound());
    kvtest::ServiceOptions options = optionsWithOwnProgram(true);
    fs::create_directories(logFolder());
    service_ = std::make_unique<kvtest::ServiceProcess>(options);
    ASSERT_TRUE(service_->launch());
    EXPECT_EQ(service_->waitForExit(60s), std::optional<int>(1));
    EXPECT_EQ(service_->stdoutText().find(" is not existing"), std::string::npos) << service_->stdoutText();

    const std::vector<std::string> messages = infoFileMessages(logFolder());
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages.front(), "initLog()");
    EXPECT_EQ(messages.back(), "unInitLog()");
    // Errors are in the file and on standard error.
    EXPECT_NE(service_->stderrText().find("[ERROR]:bind: "), std::string::npos);
}

TEST_F(Startup, WithoutTheMarkerNoLogFolderIsMadeAndTheLogGoesToStandardError) {
    startService(optionsWithOwnProgram(false));
    ASSERT_TRUE(service().waitForStderr("[INFO]:Server start on port : 37989"));
    EXPECT_FALSE(fs::exists(logFolder()));
    EXPECT_EQ(service().stdoutText().find(" is not existing"), std::string::npos);
}

}  // namespace
