// Figures of the network side, measured against the real service with the simulated printer:
// the round trip of a getter (p50, p99 over sequential requests, and p50 of one sent to an idle
// service), requests per second with several clients, how evenly six looping clients are served,
// the service's resident memory idle, with many idle connections and during a flood of large
// requests, what 2,000 connections that never complete the handshake leave behind, and how often
// the idle service wakes up. It prints figures and asserts nothing.
//
// With KV_BASELINE_BIN set to a folder holding another build of the service (for example
// /work/baseline/build/bin), every figure is measured against that one too, in the same run, and
// printed beside today's, with the ratio of the two where the figure is a time.
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/serviceProcess.h"
#include "tests/support/wsTestClient.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSequentialRequests = 1000;
constexpr int kClients = 10;
constexpr int kRequestsPerClient = 100;
constexpr int kIdleConnections = 1000;
constexpr int kIdleRequests = 200;
constexpr auto kIdleGap = 30ms;
constexpr auto kIdleWakeupWindow = 10s;
constexpr int kLoopingClients = 6;
constexpr auto kLoopingWindow = 5s;
constexpr auto kFloodWindow = 5s;
constexpr size_t kFloodRequestBytes = 1 << 20;
constexpr int kHalfOpenConnections = 2000;
constexpr auto kHalfOpenWait = 35s;

const std::string kGetter = R"({"apiName":"getSdkVersion"})";

// One printed figure; `time` ones get a ratio beside the baseline's.
struct Figure {
    std::string name;
    double value;
    bool time;
};
using Figures = std::vector<Figure>;

double millisecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * values.size()));
    return values[index];
}

void progress(const char* what) {
    std::fprintf(stderr, "  %s\n", what);
}

// A service of the given folder's binary, in a work folder of its own.
std::unique_ptr<kvtest::ServiceProcess> startService(const std::string& binDir, const std::string& name) {
    kvtest::ServiceOptions options;
    options.workDir = kvtest::freshWorkDir("bench.network." + name);
    if (!binDir.empty()) options.binary = binDir + "/kvPrinter";
    // The trace file would grow with every request; the figures are of the service alone.
    options.environment["KVSIM_TRACE"] = "";
    auto service = std::make_unique<kvtest::ServiceProcess>(options);
    if (!service->start()) {
        std::printf("the service %s did not start; its standard error:\n%s\n", options.binary.c_str(),
                    service->stderrText().c_str());
        return nullptr;
    }
    std::this_thread::sleep_for(1s);
    return service;
}

// Context switches of every thread of the process so far: each one is a wake-up.
long contextSwitches(pid_t pid) {
    long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (folder == nullptr) return -1;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    closedir(folder);
    return total;
}

void idleWakeups(pid_t service, Figures& out) {
    progress("idle wake-ups");
    const long before = contextSwitches(service);
    std::this_thread::sleep_for(kIdleWakeupWindow);
    const double seconds = std::chrono::duration<double>(kIdleWakeupWindow).count();
    out.push_back({"idle wake-ups per second (context switches of all threads)",
                   static_cast<double>(contextSwitches(service) - before) / seconds, false});
}

void idleRoundTrips(Figures& out) {
    progress("idle round trips");
    kvtest::WsTestClient client;
    if (!client.connect()) return;
    std::vector<double> times;
    for (int i = 0; i < kIdleRequests; ++i) {
        std::this_thread::sleep_for(kIdleGap);
        const Clock::time_point sent = Clock::now();
        if (!client.sendText(kGetter) || !client.receive()) return;
        times.push_back(millisecondsBetween(sent, Clock::now()));
    }
    out.push_back({"round trip p50 of a getter to an idle service (one every 30 ms), ms", percentile(times, 50), true});
}

void roundTrips(Figures& out) {
    progress("sequential round trips");
    kvtest::WsTestClient client;
    if (!client.connect()) return;
    std::vector<double> times;
    for (int i = 0; i < kSequentialRequests; ++i) {
        const Clock::time_point sent = Clock::now();
        if (!client.sendText(kGetter) || !client.receive()) return;
        times.push_back(millisecondsBetween(sent, Clock::now()));
    }
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / static_cast<double>(times.size());
    const std::string what = "round trip over 1000 sequential requests, ms: ";
    out.push_back({what + "p50", percentile(times, 50), true});
    out.push_back({what + "p99", percentile(times, 99), true});
    out.push_back({what + "mean", mean, true});
    out.push_back({what + "min", *std::min_element(times.begin(), times.end()), true});
    out.push_back({what + "max", *std::max_element(times.begin(), times.end()), true});
}

void requestsPerSecond(Figures& out) {
    progress("requests per second");
    std::vector<std::unique_ptr<kvtest::WsTestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<kvtest::WsTestClient>());
        if (!clients.back()->connect()) return;
    }
    std::vector<int> answered(kClients, 0);
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < kRequestsPerClient; ++i) {
                if (!clients[c]->sendText(kGetter) || !clients[c]->receive(60s)) return;
                ++answered[c];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double seconds = millisecondsBetween(start, Clock::now()) / 1000.0;
    const int total = std::accumulate(answered.begin(), answered.end(), 0);
    out.push_back({"requests per second, 10 clients each waiting for its answer", total / seconds, false});
}

// Idle WebSocket connections on one event loop, which a test client per connection would not be.
void idleConnections(pid_t service, Figures& out) {
    progress("idle connections");
    boost::asio::io_context ioc;
    using Stream = boost::beast::websocket::stream<boost::beast::tcp_stream>;
    std::vector<std::unique_ptr<Stream>> streams;
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address_v4("127.0.0.1"),
                                                  kvtest::kServicePort);
    for (int i = 0; i < kIdleConnections; ++i) {
        auto ws = std::make_unique<Stream>(ioc);
        boost::system::error_code ec;
        boost::beast::get_lowest_layer(*ws).socket().connect(endpoint, ec);
        if (!ec) ws->handshake("127.0.0.1", "/", ec);
        if (ec) break;
        streams.push_back(std::move(ws));
    }
    std::this_thread::sleep_for(1s);
    out.push_back({"resident memory with " + std::to_string(streams.size()) + " idle connections, kB",
                   static_cast<double>(kvtest::residentKilobytes(service)), false});
}

// Six clients, each keeping one getter in flight: how many answers each got.
void loopingClients(Figures& out) {
    progress("six looping clients");
    std::vector<std::unique_ptr<kvtest::WsTestClient>> clients;
    for (int i = 0; i < kLoopingClients; ++i) {
        clients.push_back(std::make_unique<kvtest::WsTestClient>());
        if (!clients.back()->connect()) return;
    }
    std::vector<int> answered(kLoopingClients, 0);
    const Clock::time_point end = Clock::now() + kLoopingWindow;
    std::vector<std::thread> threads;
    for (int c = 0; c < kLoopingClients; ++c) {
        threads.emplace_back([&, c] {
            while (Clock::now() < end) {
                if (!clients[c]->sendText(kGetter)) return;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
                if (left.count() <= 0 || !clients[c]->receive(left)) return;
                ++answered[c];
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::string counts;
    for (int n : answered) counts += (counts.empty() ? "" : " ") + std::to_string(n);
    std::printf("  answers of each of 6 looping clients in 5 s: %s\n", counts.c_str());
    out.push_back({"answers in 5 s to the least served of 6 looping clients",
                   static_cast<double>(*std::min_element(answered.begin(), answered.end())), false});
    out.push_back({"answers in 5 s to the best served of 6 looping clients",
                   static_cast<double>(*std::max_element(answered.begin(), answered.end())), false});
}

// One client sends 1 MiB requests as fast as the service lets it.
void flood(pid_t service, Figures& out) {
    progress("flood of 1 MiB requests");
    const long idle = kvtest::residentKilobytes(service);
    kvtest::WsTestClient client;
    if (!client.connect()) return;
    const std::string request =
        R"({"apiName":"getSdkVersion","parameter":{"pad":")" + std::string(kFloodRequestBytes, 'x') + R"("}})";
    std::atomic<bool> over{false};
    int sent = 0;
    std::thread sender([&] {
        while (!over.load() && client.sendText(request, 60s)) ++sent;
    });
    long peak = idle;
    const Clock::time_point end = Clock::now() + kFloodWindow;
    while (Clock::now() < end) {
        peak = std::max(peak, kvtest::residentKilobytes(service));
        std::this_thread::sleep_for(50ms);
    }
    over.store(true);
    sender.join();
    out.push_back({"resident memory over idle during a 5 s flood of 1 MiB requests, MB",
                   static_cast<double>(peak - idle) / 1024.0, false});
    out.push_back({"1 MiB requests the service took in during the flood", static_cast<double>(sent), false});
}

// Connections that never complete the handshake: half send nothing, half send half an upgrade.
void halfOpenConnections(pid_t service, Figures& out) {
    progress("2,000 connections that never complete the handshake (35 s)");
    const int idleDescriptors = kvtest::openDescriptors(service);
    const long idleMemory = kvtest::residentKilobytes(service);
    std::vector<std::unique_ptr<kvtest::RawTcpClient>> clients;
    for (int i = 0; i < kHalfOpenConnections; ++i) {
        auto client = std::make_unique<kvtest::RawTcpClient>();
        if (!client->connect()) break;
        if (i % 2 == 1) client->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        clients.push_back(std::move(client));
    }
    std::this_thread::sleep_for(3s);
    const int heldDescriptors = kvtest::openDescriptors(service);
    std::this_thread::sleep_for(kHalfOpenWait - 3s);
    out.push_back({"descriptors idle", static_cast<double>(idleDescriptors), false});
    out.push_back({"descriptors 3 s after 2,000 connections that never complete the handshake",
                   static_cast<double>(heldDescriptors), false});
    out.push_back({"descriptors 35 s after them", static_cast<double>(kvtest::openDescriptors(service)), false});
    out.push_back({"resident memory over idle 35 s after them, MB",
                   static_cast<double>(kvtest::residentKilobytes(service) - idleMemory) / 1024.0, false});
}

Figures measure(const std::string& binDir) {
    Figures out;
    if (auto service = startService(binDir, "main")) {
        out.push_back({"resident memory idle, kB", static_cast<double>(kvtest::residentKilobytes(service->pid())),
                       false});
        idleWakeups(service->pid(), out);
        idleRoundTrips(out);
        roundTrips(out);
        requestsPerSecond(out);
        idleConnections(service->pid(), out);
    }
    if (auto service = startService(binDir, "looping")) loopingClients(out);
    if (auto service = startService(binDir, "flood")) flood(service->pid(), out);
    if (auto service = startService(binDir, "halfopen")) halfOpenConnections(service->pid(), out);
    return out;
}

}  // namespace

int main() {
    // 2,000 connections need more descriptors than the usual soft limit (the service inherits it).
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    const char* baselineDir = std::getenv("KV_BASELINE_BIN");
    const bool withBaseline = baselineDir != nullptr && *baselineDir != '\0';

    std::fprintf(stderr, "measuring %s\n", kvtest::serviceBinary().c_str());
    const Figures current = measure("");
    Figures baseline;
    if (withBaseline) {
        std::fprintf(stderr, "measuring %s/kvPrinter\n", baselineDir);
        baseline = measure(baselineDir);
    }

    if (withBaseline) {
        std::printf("%-92s %12s %12s %8s\n", "figure", "current", "baseline", "ratio");
    } else {
        std::printf("%-92s %12s\n", "figure", "current");
    }
    for (const Figure& figure : current) {
        std::printf("%-92s %12.2f", figure.name.c_str(), figure.value);
        if (withBaseline) {
            const auto other = std::find_if(baseline.begin(), baseline.end(), [&](const Figure& f) {
                return f.name == figure.name || (f.name.rfind("resident memory with", 0) == 0 &&
                                                 figure.name.rfind("resident memory with", 0) == 0);
            });
            if (other != baseline.end()) {
                std::printf(" %12.2f", other->value);
                if (figure.time && other->value > 0) std::printf(" %8.3f", figure.value / other->value);
            }
        }
        std::printf("\n");
    }
    return 0;
}
