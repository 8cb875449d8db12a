// Runs the real service binary for an integration test or a benchmark.
//
//     kvtest::ServiceOptions options;
//     options.workDir = kvtest::freshWorkDir("MySuite.MyTest");   // emptied, then created
//     options.scenario = R"({"delayMs":{"pausePrint":500}})";     // written to scenario.json
//     kvtest::ServiceProcess service(options);
//     ASSERT_TRUE(service.start()) << service.stderrText();       // waits until 37989 listens
//     ... talk to it with kvtest::WsTestClient ...
//     EXPECT_TRUE(service.waitForTraceCall("pausePrint"));
//     service.stop();                                              // the destructor stops it too
//
// The program runs in workDir with its standard output and standard error captured to
// workDir/stdout.txt and workDir/stderr.txt (without the marker file beside the program every
// log line goes to standard error). Its environment is the test's own plus:
//   KVSIM_TRACE   = workDir/trace.jsonl  (read back with traceLines / traceCalls)
//   KVSIM_OUTPUT  = workDir/output       (created)
//   KVSIM_SCENARIO= workDir/scenario.json, only when options.scenario is set (else unset)
//   PROGRAMDATA   = workDir/programdata  (not created), so that no log ever lands in /var/lib
// and whatever options.environment sets, which wins over all of these.
//
// Port 37989 is shared: run every test that uses this under
// `flock /tmp/kv-port-37989.lock ...`, registered with the "integration" label and RUN_SERIAL.
#pragma once

#include <json/json.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvtest {

struct ServiceOptions {
    std::string workDir;                              // required
    std::string binary;                               // default: <build>/bin/kvPrinter
    std::string scenario;                             // JSON text of KVSIM_SCENARIO, or empty
    std::map<std::string, std::string> environment;   // added last, overriding the defaults
};

// The built service binary, <build>/bin/kvPrinter.
std::string serviceBinary();
// The folder holding the built service and its stand-in libraries, <build>/bin.
std::string serviceBinDir();
// A fresh, empty folder for one test: <build>/tests/work/<name>.
std::string freshWorkDir(const std::string& name);
// The whole content of a file, or empty when it cannot be read.
std::string readFile(const std::string& path);
// Resident memory of a process in kilobytes (VmRSS), or -1.
long residentKilobytes(pid_t pid);
// The descriptors a process has open, or -1.
int openDescriptors(pid_t pid);

class ServiceProcess {
public:
    explicit ServiceProcess(ServiceOptions options);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Launches the program and waits until it listens on 37989 (its own socket). False when it
    // ended first or the deadline passed.
    bool start(std::chrono::milliseconds deadline = std::chrono::seconds(60));
    // Launches it without waiting (for a program that is expected to end by itself).
    bool launch();
    // Waits for the program to end: its exit status (128 + signal when killed), or nullopt.
    std::optional<int> waitForExit(std::chrono::milliseconds deadline = std::chrono::seconds(60));
    // SIGTERM, then SIGKILL when it is still there after a grace time; waits for it.
    void stop();
    bool running();
    pid_t pid() const { return pid_; }

    const std::string& workDir() const { return options_.workDir; }
    std::string stdoutText() const;
    std::string stderrText() const;
    // Polls standard error (or output) until it contains the text.
    bool waitForStderr(const std::string& text, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
    bool waitForStdout(const std::string& text, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

    // The complete trace lines so far ({"lib","fn","args"}), of one library or of all ("").
    std::vector<Json::Value> traceLines(const std::string& lib = "sdk") const;
    // Only the function names of traceLines.
    std::vector<std::string> traceCalls(const std::string& lib = "sdk") const;
    // Polls the trace until the function has been called at least `times` times.
    bool waitForTraceCall(const std::string& fn, std::chrono::milliseconds deadline = std::chrono::seconds(10),
                          int times = 1, const std::string& lib = "sdk") const;

    // The part of standard error from the first sanitizer report, or broken rule of the client
    // budget, on; empty when there is none.
    std::string sanitizerReport() const;

private:
    ServiceOptions options_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace kvtest
