#include "tests/support/serviceProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/wsTestClient.h"

extern char** environ;

namespace kvtest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::chrono::milliseconds kPollInterval{20};

// Inodes of the sockets listening on the port (IPv4), from /proc/net/tcp.
std::set<std::string> listeningInodes(unsigned short port) {
    std::set<std::string> inodes;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // header
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            inodes.insert(inode);
        }
    }
    return inodes;
}

bool ownsOneOf(pid_t pid, const std::set<std::string>& inodes) {
    if (inodes.empty()) return false;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(entry.path(), linkError).string();
        if (target.rfind("socket:[", 0) != 0) continue;
        if (inodes.count(target.substr(8, target.size() - 9)) > 0) return true;
    }
    return false;
}

bool waitForText(const std::string& path, const std::string& text, std::chrono::milliseconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (true) {
        if (readFile(path).find(text) != std::string::npos) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

std::string serviceBinDir() {
    return KV_BIN_DIR;
}

std::string serviceBinary() {
    return serviceBinDir() + "/kvPrinter";
}

std::string freshWorkDir(const std::string& name) {
    const fs::path dir = fs::path(KV_TEST_DIR) / "work" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

long residentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

int openDescriptors(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) return -1;
    return static_cast<int>(std::distance(entries, std::filesystem::directory_iterator()));
}

ServiceProcess::ServiceProcess(ServiceOptions options) : options_(std::move(options)) {
    if (options_.binary.empty()) options_.binary = serviceBinary();
}

ServiceProcess::~ServiceProcess() {
    stop();
}

bool ServiceProcess::launch() {
    if (pid_ > 0) return false;
    const fs::path dir = options_.workDir;
    fs::create_directories(dir);
    fs::create_directories(dir / "output");

    std::map<std::string, std::string> own = {
        {"KVSIM_TRACE", (dir / "trace.jsonl").string()},
        {"KVSIM_OUTPUT", (dir / "output").string()},
        {"PROGRAMDATA", (dir / "programdata").string()},
    };
    if (!options_.scenario.empty()) {
        std::ofstream(dir / "scenario.json") << options_.scenario;
        own["KVSIM_SCENARIO"] = (dir / "scenario.json").string();
    }
    for (const auto& [key, value] : options_.environment) own[key] = value;

    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string key = variable.substr(0, variable.find('='));
        if (own.count(key) == 0 && key != "KVSIM_SCENARIO") variables.push_back(variable);
    }
    for (const auto& [key, value] : own) variables.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);

    const std::string out = (dir / "stdout.txt").string();
    const std::string err = (dir / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string program = options_.binary;
    char* argv[] = {program.data(), nullptr};
    const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        pid_ = -1;
        return false;
    }
    exitStatus_.reset();
    return true;
}

bool ServiceProcess::start(std::chrono::milliseconds deadline) {
    if (!launch()) return false;
    const Clock::time_point until = Clock::now() + deadline;
    // Listening, by a socket of this very process (not one left over from someone else).
    while (running()) {
        if (ownsOneOf(pid_, listeningInodes(kServicePort))) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return false;
}

bool ServiceProcess::running() {
    if (pid_ <= 0 || exitStatus_) return false;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == 0) return true;
    if (done == pid_) exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    else exitStatus_ = -1;
    return false;
}

std::optional<int> ServiceProcess::waitForExit(std::chrono::milliseconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (running()) {
        if (Clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(kPollInterval);
    }
    return exitStatus_;
}

void ServiceProcess::stop() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    if (!waitForExit(std::chrono::seconds(10))) {
        kill(pid_, SIGKILL);
        waitForExit(std::chrono::seconds(10));
    }
}

std::string ServiceProcess::stdoutText() const {
    return readFile(options_.workDir + "/stdout.txt");
}

std::string ServiceProcess::stderrText() const {
    return readFile(options_.workDir + "/stderr.txt");
}

bool ServiceProcess::waitForStderr(const std::string& text, std::chrono::milliseconds deadline) const {
    return waitForText(options_.workDir + "/stderr.txt", text, deadline);
}

bool ServiceProcess::waitForStdout(const std::string& text, std::chrono::milliseconds deadline) const {
    return waitForText(options_.workDir + "/stdout.txt", text, deadline);
}

std::vector<Json::Value> ServiceProcess::traceLines(const std::string& lib) const {
    std::vector<Json::Value> lines;
    const std::string content = readFile(options_.workDir + "/trace.jsonl");
    size_t begin = 0;
    // Only complete lines: the last one may still be being written.
    for (size_t end = content.find('\n'); end != std::string::npos; end = content.find('\n', begin)) {
        Json::Value line;
        if (Json::Reader().parse(content.substr(begin, end - begin), line) &&
            (lib.empty() || line["lib"].asString() == lib)) {
            lines.push_back(line);
        }
        begin = end + 1;
    }
    return lines;
}

std::vector<std::string> ServiceProcess::traceCalls(const std::string& lib) const {
    std::vector<std::string> names;
    for (const Json::Value& line : traceLines(lib)) names.push_back(line["fn"].asString());
    return names;
}

bool ServiceProcess::waitForTraceCall(const std::string& fn, std::chrono::milliseconds deadline, int times,
                                      const std::string& lib) const {
    const Clock::time_point until = Clock::now() + deadline;
    while (true) {
        int seen = 0;
        for (const std::string& name : traceCalls(lib)) seen += name == fn ? 1 : 0;
        if (seen >= times) return true;
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::string ServiceProcess::sanitizerReport() const {
    const std::string err = stderrText();
    size_t first = std::string::npos;
    // A rule of the client budget that broke is logged once and served on: the tests fail on it.
    for (const char* mark : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                             "runtime error:", "[ERROR]:client budget: "}) {
        first = std::min(first, err.find(mark));
    }
    return first == std::string::npos ? std::string() : err.substr(first, 8000);
}

}  // namespace kvtest
