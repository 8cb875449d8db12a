// Figures of the network side, measured against the real service with the simulated printer:
// the round trip of a getter (p50, p99 over sequential requests, and p50 of one sent to an idle
// service), requests per second with several clients, how evenly six looping clients are served,
// the service's resident memory idle, with many idle connections and during a flood of large
// requests (by one client and by 16), what 2,000 connections that never complete the handshake
// leave behind, how often the idle service wakes up, how soon a client that connects the printer
// after 1,000 departures is answered and whether its printer stays connected, how soon a stop
// behind 150 slow getters is answered and which of them are served after it, and the ping round
// trip while clients keep connecting and leaving, alone and while the worker serves one 4 MiB
// request after another (a heap with large free chunks, which giving memory back has to walk), and
// 24 clients that each upload a 15 MiB request in two steps while two others keep getters waiting:
// how many uploads are answered within 60 s, the getters' round trip, and the memory it takes.
// Then what a few hostile clients cost the others: 20 clients that ask for 40 MiB of answers
// each, read none and half-close their connection (memory and sockets left in CLOSE-WAIT 35 s
// later); a getter sent just after one client's 4,096 empty messages; 20 clients that send 4,096
// empty messages, leave and come again for 45 s (peak memory, and a getter after them); 4,200
// clients that stall 20 KiB into a 1 MiB message (a new client's connect and getter) and 4,100
// that stall 1 KiB into a 4 KiB one (a getter); and one client alone that sends a 14 MiB request
// at 200 KiB/s (answered, or closed after how much). Every wait is bounded; a figure that did not
// come within its bound is printed as the bound, with a line saying so.
// It prints figures and asserts nothing.
//
// With KV_BASELINE_BIN set to a folder holding another build of the service (for example
// /work/baseline/build/bin), every figure is measured against that one too, in the same run, and
// printed beside today's, with the ratio of the two where the figure is a time.
//
// Arguments name the groups of figures to measure (each on a service of its own), all when there
// are none: main looping flood flood16 halfopen departures stop ping uploads halfclosed empties
// emptyflood stalled slowsender (the last five take about 5 minutes together). For example
//     networkBench departures stop
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
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
constexpr int kFloodClients = 16;
// Long enough for 16 clients to reach what each connection may hold.
constexpr auto kFloodWindowOfMany = 10s;
constexpr int kHalfOpenConnections = 2000;
constexpr auto kHalfOpenWait = 35s;
constexpr int kDepartures = 1000;
constexpr int kDepartureSdkMs = 40;
// Today's build may take 80 s to work off 1,000 departures; the figure is bounded.
constexpr auto kConnectAnswerBound = 120s;
constexpr int kGettersAfterConnect = 10;
constexpr auto kGetterGapAfterConnect = 200ms;
constexpr int kQueuedGetters = 150;
constexpr int kQueuedGetterSdkMs = 100;
constexpr auto kStopDelay = 50ms;
constexpr auto kStopAnswerBound = 30s;
constexpr auto kAfterStopWindow = 3s;
constexpr auto kChurnWindow = 10s;
constexpr int kChurnThreads = 4;
constexpr int kChurnPerSecond = 300;
constexpr auto kPingGap = 5ms;
constexpr int kUploads = 24;
constexpr size_t kUploadBytes = 15u << 20;
constexpr size_t kUploadFirstStep = 11u << 20;
constexpr auto kUploadStepGap = 1s;
constexpr auto kUploadWindow = 60s;
constexpr int kGetterClients = 2;
constexpr int kGettersWaiting = 2;
constexpr int kHalfClosedClients = 20;
constexpr int kHalfClosedRequests = 40;
constexpr size_t kLargeAnswerName = 1u << 20;
constexpr auto kHalfClosedWriteBound = 60s;
constexpr auto kHalfClosedWait = 35s;
constexpr int kEmptyMessages = 4096;
constexpr auto kEmptiesGetterDelay = 300ms;
constexpr auto kEmptiesAnswerBound = 120s;
constexpr int kEmptyFloodClients = 20;
constexpr auto kEmptyFloodWindow = 45s;
constexpr auto kEmptyFloodAnswerBound = 90s;
constexpr int kStalledClients = 4200;
constexpr int kStalledSmallClients = 4100;
constexpr auto kStalledSetupBound = 60s;
constexpr auto kStalledBound = 60s;
constexpr auto kStalledSmallBound = 40s;
constexpr size_t kSlowRequestBytes = 14u << 20;
constexpr size_t kSlowChunk = 10u << 10;
constexpr auto kSlowChunkGap = 50ms;
constexpr auto kSlowAnswerBound = 30s;

const std::string kGetter = R"({"apiName":"getSdkVersion"})";

// One printed figure; `time` ones get a ratio beside the baseline's.
struct Figure {
    std::string name;
    double value;
    bool time;
};
using Figures = std::vector<Figure>;
using Stream = boost::beast::websocket::stream<boost::beast::tcp_stream>;

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

// The parsed answer or event, or a null value for a text that is not JSON.
Json::Value parsed(const std::string& text) {
    Json::Value value;
    if (!Json::Reader().parse(text, value)) return Json::Value();
    return value;
}

// The next message under that "apiName" (events and other answers are skipped), or nullopt when
// none came before the deadline.
std::optional<Json::Value> receiveAnswer(kvtest::WsTestClient& client, const std::string& apiName,
                                         Clock::time_point deadline) {
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        const std::optional<kvtest::WsMessage> message = client.receive(left);
        if (!message) return std::nullopt;
        Json::Value answer = parsed(message->text);
        if (answer.isObject() && answer["apiName"].asString() == apiName) return answer;
    }
}

bool succeeded(const Json::Value& answer) {
    const Json::Value& code = answer["resultAck"]["errorCode"];
    return code.isInt() && code.asInt() == 0;
}

// A service of the given folder's binary, in a work folder of its own, with a simulator scenario
// when one is given. Without `trace`, no SDK trace is written.
std::unique_ptr<kvtest::ServiceProcess> startService(const std::string& binDir, const std::string& name,
                                                     const std::string& scenario = "", bool trace = false) {
    kvtest::ServiceOptions options;
    options.workDir = kvtest::freshWorkDir("bench.network." + name);
    if (!binDir.empty()) options.binary = binDir + "/kvPrinter";
    options.scenario = scenario;
    // The trace file would grow with every request; the figures are of the service alone.
    if (!trace) options.environment["KVSIM_TRACE"] = "";
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

// Clients send 1 MiB requests as fast as the service lets them; none reads its answers.
void flood(pid_t service, int clientCount, std::chrono::seconds window, Figures& out) {
    progress(clientCount == 1 ? "flood of 1 MiB requests" : "flood of 1 MiB requests by 16 clients");
    const long idle = kvtest::residentKilobytes(service);
    std::vector<std::unique_ptr<kvtest::WsTestClient>> clients;
    for (int i = 0; i < clientCount; ++i) {
        clients.push_back(std::make_unique<kvtest::WsTestClient>());
        if (!clients.back()->connect()) return;
    }
    const std::string request =
        R"({"apiName":"getSdkVersion","parameter":{"pad":")" + std::string(kFloodRequestBytes, 'x') + R"("}})";
    std::atomic<int> sent{0};
    const Clock::time_point end = Clock::now() + window;
    std::vector<std::thread> senders;
    for (int c = 0; c < clientCount; ++c) {
        senders.emplace_back([&, c] {
            // A write held back by the service past the end gives up (and drops the connection).
            while (true) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
                if (left.count() <= 0 || !clients[c]->sendText(request, left)) return;
                ++sent;
            }
        });
    }
    long peak = idle;
    while (Clock::now() < end) {
        peak = std::max(peak, kvtest::residentKilobytes(service));
        std::this_thread::sleep_for(50ms);
    }
    for (std::thread& t : senders) t.join();
    const std::string by = clientCount == 1 ? "" : " by " + std::to_string(clientCount) + " clients";
    out.push_back({"resident memory over idle during a " + std::to_string(window.count()) +
                       " s flood of 1 MiB requests" + by + ", MB",
                   static_cast<double>(peak - idle) / 1024.0, false});
    out.push_back({"1 MiB requests the service took in during the flood" + by, static_cast<double>(sent.load()),
                   false});
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

// 1,000 clients connect and leave without a request (half with a close handshake, half with a
// reset) while each departure's endJob and closePrinter take 40 ms in the SDK; then a new client
// connects the USB printer. The sound service closes for the departures before it takes the
// connect, and none after it.
void departures(const kvtest::ServiceProcess& service, Figures& out) {
    progress("1,000 departures, then a client connects the printer (up to 2 min)");
    int departed = 0;
    const Clock::time_point first = Clock::now();
    for (int i = 0; i < kDepartures; ++i) {
        kvtest::WsTestClient client;
        if (!client.connect()) break;
        if (i % 2 == 0) {
            client.close(2s);
        } else {
            client.drop();
        }
        ++departed;
    }
    const Clock::time_point gone = Clock::now();
    std::printf("  %d clients came and went in %.0f ms\n", departed, millisecondsBetween(first, gone));

    kvtest::WsTestClient client;
    std::optional<Json::Value> connected;
    if (client.connect() &&
        client.sendText(R"({"apiName":"connetUsbPrinter","parameter":{"printerName":"KV-USB-01","port":1}})")) {
        connected = receiveAnswer(client, "connetUsbPrinter", gone + kConnectAnswerBound);
    }
    const double waited = millisecondsBetween(gone, Clock::now());
    if (!connected) {
        std::printf("  the connect was not answered within %.0f s: its figure is the time waited, a lower bound\n",
                    std::chrono::duration<double>(kConnectAnswerBound).count());
    }
    const Clock::time_point answered = Clock::now();
    int served = 0;
    for (int i = 0; i < kGettersAfterConnect; ++i) {
        std::this_thread::sleep_until(answered + i * kGetterGapAfterConnect);
        if (!client.sendText(R"({"apiName":"getPrinterSn"})")) break;
        const std::optional<Json::Value> answer = receiveAnswer(client, "getPrinterSn", Clock::now() + 2s);
        if (answer && succeeded(*answer)) ++served;
    }
    // Closes that began after the connect's own call: each one takes the printer away again.
    const std::vector<std::string> calls = service.traceCalls();
    const auto connect = std::find(calls.rbegin(), calls.rend(), "connectUsbPrinter");
    const long closes = connect == calls.rend() ? 0 : std::count(calls.rbegin(), connect, "closePrinter");

    out.push_back({"from the end of 1,000 departures (40 ms SDK calls) to a new client's connect answer, ms",
                   waited, true});
    out.push_back({"its connect succeeded (1 yes, 0 no)", connected && succeeded(*connected) ? 1.0 : 0.0, false});
    out.push_back({"its getPrinterSn answered with success, of 10 over the 2 s after", static_cast<double>(served),
                   false});
    out.push_back({"closePrinter calls in the SDK after its connect, until the end of those 2 s",
                   static_cast<double>(closes), false});
}

// The time each message of a client arrived, with its "apiName", until the deadline, which
// another thread may move. An answer to "stopPrint" moves it to the end of the window after it.
struct Arrival {
    Clock::time_point at;
    std::string apiName;
};

std::vector<Arrival> arrivals(kvtest::WsTestClient& client, std::atomic<Clock::time_point>& deadline) {
    std::vector<Arrival> seen;
    while (Clock::now() < deadline.load()) {
        const std::optional<kvtest::WsMessage> message = client.receive(100ms);
        if (message) {
            seen.push_back({Clock::now(), parsed(message->text)["apiName"].asString()});
            if (seen.back().apiName == "stopPrint") deadline.store(seen.back().at + kAfterStopWindow);
        } else if (!client.isOpen()) {
            break;
        }
    }
    return seen;
}

// 150 getters of 100 ms each, then "stopPrint" 50 ms later: by the same client, or by another.
// The sound service answers the stop when the getter being served ends, and serves none of the
// getters left waiting then.
void stopBehindGetters(bool ownStop, Figures& out) {
    progress(ownStop ? "a stop behind 150 slow getters of its own client"
                     : "another client's stop behind 150 slow getters");
    kvtest::WsTestClient client;
    kvtest::WsTestClient stopper;
    if (!client.connect() || (!ownStop && !stopper.connect())) return;
    for (int i = 0; i < kQueuedGetters; ++i) {
        if (!client.sendText(kGetter)) return;
    }
    // The stop comes while the first getter is being served, so that it always has one to wait for.
    std::this_thread::sleep_for(kStopDelay);
    const Clock::time_point sent = Clock::now();
    if (!(ownStop ? client : stopper).sendText(R"({"apiName":"stopPrint"})")) return;

    // The getters' client is read on a thread of its own, so that each answer's arrival is known
    // also while the other client waits for the stop's answer.
    std::atomic<Clock::time_point> deadline{sent + kStopAnswerBound + kAfterStopWindow};
    std::vector<Arrival> seen;
    std::thread reader([&] { seen = arrivals(client, deadline); });
    std::optional<Clock::time_point> stopAnswer;
    if (!ownStop) {
        if (receiveAnswer(stopper, "stopPrint", sent + kStopAnswerBound)) {
            stopAnswer = Clock::now();
            deadline.store(*stopAnswer + kAfterStopWindow);
        }
    }
    reader.join();
    if (ownStop) {
        const auto stop =
            std::find_if(seen.begin(), seen.end(), [](const Arrival& a) { return a.apiName == "stopPrint"; });
        if (stop != seen.end()) stopAnswer = stop->at;
    }
    const Clock::time_point cut = stopAnswer.value_or(sent + kStopAnswerBound);
    if (!stopAnswer) {
        std::printf("  the stop was not answered within %.0f s: its figure is the time waited, a lower bound\n",
                    std::chrono::duration<double>(kStopAnswerBound).count());
    }
    int before = 0;
    int after = 0;
    for (const Arrival& a : seen) {
        if (a.apiName != "getSdkVersion") continue;
        if (a.at <= cut) ++before;
        if (a.at > cut && a.at <= cut + kAfterStopWindow) ++after;
    }
    const std::string whose = ownStop ? "its own stop" : "another client's stop";
    out.push_back({"answer time of " + whose + " behind 150 getters of 100 ms, ms", millisecondsBetween(sent, cut),
                   true});
    out.push_back({"  of the 150 getters, answered before " + whose, static_cast<double>(before), false});
    out.push_back({"  of the 150 getters, answered in the 3 s after " + whose, static_cast<double>(after), false});
}

// Threads that keep connecting clients and letting them go (half with a close handshake, half
// with a reset), about kChurnPerSecond a second together, until the end.
std::vector<std::thread> startChurn(Clock::time_point end, std::atomic<int>& churned) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kChurnThreads; ++t) {
        threads.emplace_back([end, &churned, t] {
            const auto period = std::chrono::duration_cast<Clock::duration>(1s) * kChurnThreads / kChurnPerSecond;
            Clock::time_point next = Clock::now();
            for (int i = t; Clock::now() < end; ++i) {
                {
                    kvtest::WsTestClient client;
                    if (client.connect(kvtest::kServicePort, 2s)) {
                        if (i % 2 == 0) {
                            client.close(2s);
                        } else {
                            client.drop();
                        }
                        ++churned;
                    }
                }
                next += period;
                std::this_thread::sleep_until(next);
            }
        });
    }
    return threads;
}

// One client sends a ping, waits for its pong, and the next one 5 ms later; the round trip of
// each while other clients come and go.
void pingsDuringChurn(Figures& out, bool withLoad) {
    progress(withLoad ? "ping round trips during connection churn and 4 MiB requests (10 s)"
                      : "ping round trips during connection churn (10 s)");
    namespace websocket = boost::beast::websocket;
    boost::asio::io_context ioc;
    Stream ws(ioc);
    boost::system::error_code ec;
    boost::beast::get_lowest_layer(ws).socket().connect(
        boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), kvtest::kServicePort), ec);
    if (!ec) ws.handshake("127.0.0.1", "/", ec);
    if (ec) return;

    std::vector<double> times;
    bool over = false;
    int sequence = 0;
    websocket::ping_data payload;
    Clock::time_point pingSent;
    boost::asio::steady_timer gap(ioc);
    const auto sendPing = [&] {
        payload = std::to_string(++sequence);
        pingSent = Clock::now();
        ws.async_ping(payload, [](boost::system::error_code) {});
    };
    ws.control_callback([&](websocket::frame_type kind, boost::beast::string_view data) {
        if (kind != websocket::frame_type::pong || data != std::to_string(sequence)) return;
        times.push_back(millisecondsBetween(pingSent, Clock::now()));
        if (over) return;
        gap.expires_after(kPingGap);
        gap.async_wait([&](boost::system::error_code waitError) {
            if (!waitError && !over) sendPing();
        });
    });
    // Pongs are seen only while a read is pending.
    boost::beast::flat_buffer buffer;
    std::function<void()> readNext = [&] {
        ws.async_read(buffer, [&](boost::system::error_code readError, std::size_t) {
            buffer.consume(buffer.size());
            if (!readError) readNext();
        });
    };

    std::atomic<int> churned{0};
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> churn = startChurn(start + kChurnWindow, churned);
    if (withLoad) {
        // The worker parses one large request after another, so the heap keeps large free chunks.
        churn.emplace_back([until = start + kChurnWindow] {
            kvtest::WsTestClient client;
            if (!client.connect()) return;
            const std::string request = R"({"apiName":"getSdkVersion","load":")" + std::string(4 << 20, 'x') + R"("})";
            while (Clock::now() < until) {
                if (!client.sendText(request, 10s) || !client.receive(10s)) return;
            }
        });
    }
    boost::asio::steady_timer end(ioc, kChurnWindow);
    end.async_wait([&](boost::system::error_code) {
        over = true;
        gap.cancel();
        boost::system::error_code ignored;
        boost::beast::get_lowest_layer(ws).socket().close(ignored);
    });
    readNext();
    sendPing();
    ioc.run();
    for (std::thread& t : churn) t.join();
    const double seconds = millisecondsBetween(start, Clock::now()) / 1000.0;

    std::printf("  %zu pings; %d clients came and went, %.0f a second\n", times.size(), churned.load(),
                churned.load() / seconds);
    const std::string what = std::string("ping round trip while about 300 clients a second connect and leave") +
                             (withLoad ? " and 4 MiB requests are served" : "") + ", ms: ";
    out.push_back({what + "p50", percentile(times, 50), true});
    out.push_back({what + "p99", percentile(times, 99), true});
    out.push_back({what + "max", times.empty() ? 0 : *std::max_element(times.begin(), times.end()), true});
}

// A WebSocket client on a blocking socket of its own, for one thread.
std::unique_ptr<Stream> connectBlocking(boost::asio::io_context& ioc) {
    auto ws = std::make_unique<Stream>(ioc);
    boost::system::error_code ec;
    boost::beast::get_lowest_layer(*ws).socket().connect(
        boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), kvtest::kServicePort), ec);
    if (!ec) ws->handshake("127.0.0.1", "/", ec);
    if (ec) return nullptr;
    return ws;
}

// 24 clients each upload a 15 MiB request (360 MiB together, more than all clients may hold) as
// one message of two frames, 11 MiB and a second later the rest; meanwhile two clients each keep
// two getters waiting. How many uploads are answered within 60 s, the getters' round trip over
// that time, and the peak of resident memory.
void twoStepUploads(pid_t service, Figures& out) {
    progress("24 two-step uploads of 15 MiB beside clients that keep getters waiting (up to 60 s)");
    const long idle = kvtest::residentKilobytes(service);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + kUploadWindow;
    std::atomic<int> answered{0};
    std::atomic<bool> over{false};
    std::vector<std::thread> threads;
    std::vector<boost::asio::ip::tcp::socket*> sockets(kUploads + kGetterClients, nullptr);
    std::mutex socketsMutex;
    // The socket of client `index` while its thread uses it, so that the end can interrupt it.
    const auto track = [&](int index, Stream* ws) {
        std::lock_guard<std::mutex> lock(socketsMutex);
        sockets[index] = ws == nullptr ? nullptr : &boost::beast::get_lowest_layer(*ws).socket();
    };
    const std::string request = R"({"apiName":"getSdkVersion","parameter":{"pad":")" +
                                std::string(kUploadBytes - 60, 'u') + R"("}})";
    for (int c = 0; c < kUploads; ++c) {
        threads.emplace_back([&, c] {
            boost::asio::io_context ioc;
            std::unique_ptr<Stream> ws = connectBlocking(ioc);
            if (!ws) return;
            track(c, ws.get());
            boost::system::error_code ec;
            ws->write_some(false, boost::asio::buffer(request.data(), kUploadFirstStep), ec);
            std::this_thread::sleep_for(kUploadStepGap);
            if (!ec) ws->write_some(true, boost::asio::buffer(request.data() + kUploadFirstStep, request.size() - kUploadFirstStep), ec);
            boost::beast::flat_buffer buffer;
            while (!ec && !over) {
                ws->read(buffer, ec);
                if (!ec && parsed(boost::beast::buffers_to_string(buffer.data()))["apiName"] == "getSdkVersion") {
                    if (Clock::now() <= end) ++answered;
                    break;
                }
                buffer.consume(buffer.size());
            }
            track(c, nullptr);
        });
    }
    std::vector<double> getterTimes;
    std::mutex timesMutex;
    for (int g = 0; g < kGetterClients; ++g) {
        threads.emplace_back([&, g] {
            boost::asio::io_context ioc;
            std::unique_ptr<Stream> ws = connectBlocking(ioc);
            if (!ws) return;
            track(kUploads + g, ws.get());
            std::deque<Clock::time_point> sent;
            boost::system::error_code ec;
            for (int i = 0; i < kGettersWaiting && !ec; ++i) {
                sent.push_back(Clock::now());
                ws->write(boost::asio::buffer(kGetter), ec);
            }
            boost::beast::flat_buffer buffer;
            while (!ec && !over) {
                ws->read(buffer, ec);
                buffer.consume(buffer.size());
                if (ec || sent.empty()) break;
                {
                    std::lock_guard<std::mutex> lock(timesMutex);
                    getterTimes.push_back(millisecondsBetween(sent.front(), Clock::now()));
                }
                sent.pop_front();
                sent.push_back(Clock::now());
                ws->write(boost::asio::buffer(kGetter), ec);
            }
            track(kUploads + g, nullptr);
        });
    }
    long peak = idle;
    while (Clock::now() < end && answered.load() < kUploads) {
        peak = std::max(peak, kvtest::residentKilobytes(service));
        std::this_thread::sleep_for(50ms);
    }
    const double seconds = millisecondsBetween(start, Clock::now()) / 1000.0;
    over = true;
    {
        // Blocked reads and writes end with their sockets.
        std::lock_guard<std::mutex> lock(socketsMutex);
        for (boost::asio::ip::tcp::socket* socket : sockets) {
            boost::system::error_code ignored;
            if (socket != nullptr) socket->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        }
    }
    for (std::thread& t : threads) t.join();
    std::printf("  %d of 24 uploads answered after %.1f s; %zu getters answered meanwhile\n", answered.load(), seconds,
                getterTimes.size());
    out.push_back({"two-step uploads of 15 MiB answered within 60 s, of 24", static_cast<double>(answered.load()), false});
    out.push_back({"  seconds until the last was answered (60 when not all were)", seconds, true});
    out.push_back({"  getter round trip p99 during the uploads, ms", percentile(getterTimes, 99), true});
    out.push_back({"  resident memory over idle at its peak during the uploads, MB",
                   static_cast<double>(peak - idle) / 1024.0, false});
}

// A WebSocket client on a plain non-blocking socket, for what the client library does not do:
// frames written by hand (masked with the key 0, so that their bytes go out as they are), a
// message that stops half-way, a half-close. Every step ends by its deadline. It answers no
// pings (the service pings only a connection idle for minutes).
class RawWs {
public:
    RawWs() = default;
    ~RawWs() { close(); }
    RawWs(const RawWs&) = delete;
    RawWs& operator=(const RawWs&) = delete;

    // The TCP connection and the upgrade, answered with 101.
    bool connect(Clock::time_point until) {
        close();
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0) return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kvtest::kServicePort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (errno != EINPROGRESS || !wait(POLLOUT, until)) return fail();
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return fail();
        }
        static const std::string upgrade =
            "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (!write(upgrade.data(), upgrade.size(), until)) return false;
        size_t end = std::string::npos;
        while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore(until)) return fail();
        }
        const bool switched = pending_.compare(0, 12, "HTTP/1.1 101") == 0;
        pending_.erase(0, end + 4);
        sent_ = 0;
        return switched || fail();
    }

    bool write(const char* data, size_t size, Clock::time_point until) {
        size_t written = 0;
        while (fd_ >= 0 && written < size) {
            const ssize_t n = ::send(fd_, data + written, size - written, MSG_NOSIGNAL);
            if (n > 0) {
                written += static_cast<size_t>(n);
                sent_ += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!wait(POLLOUT, until)) return false;
            } else {
                return fail();
            }
        }
        return fd_ >= 0;
    }
    bool write(const std::string& bytes, Clock::time_point until) { return write(bytes.data(), bytes.size(), until); }

    // The next text or binary message; nullopt at the deadline or when the connection ended (a
    // close frame or the end of the stream: ended() then). Pings and pongs are skipped.
    std::optional<std::string> readMessage(Clock::time_point until) {
        std::string message;
        while (true) {
            size_t at = 2;
            while (pending_.size() < at || pending_.size() < headerSize() ||
                   pending_.size() < headerSize() + payloadSize()) {
                if (!readMore(until)) return std::nullopt;
            }
            at = headerSize();
            const size_t length = payloadSize();
            const int opcode = pending_[0] & 0x0f;
            const bool fin = (pending_[0] & 0x80) != 0;
            if (opcode == 0x8) {
                ended_ = true;
                return std::nullopt;
            }
            if (opcode < 0x8) message.append(pending_, at, length);
            pending_.erase(0, at + length);
            if (opcode < 0x8 && fin) return message;
        }
    }

    // Sends FIN and keeps the socket open, reading nothing.
    void shutdownWrite() {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
    }
    // Ends the connection with a reset.
    void drop() {
        if (fd_ < 0) return;
        const linger immediate{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
        close();
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool ended() const { return ended_; }
    // Bytes written since the upgrade.
    size_t sent() const { return sent_; }

private:
    bool fail() {
        ended_ = true;
        close();
        return false;
    }
    bool wait(short events, Clock::time_point until) {
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, events, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            return ready > 0;
        }
    }
    bool readMore(Clock::time_point until) {
        while (fd_ >= 0) {
            char chunk[65536];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) {
                pending_.append(chunk, static_cast<size_t>(n));
                return true;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!wait(POLLIN, until)) return false;
                continue;
            }
            return fail();
        }
        return false;
    }
    // The header of the frame at the front of pending_ (which holds at least two bytes).
    size_t headerSize() const {
        const unsigned length = static_cast<unsigned char>(pending_[1]) & 0x7f;
        const size_t mask = (pending_[1] & 0x80) != 0 ? 4 : 0;
        return 2 + mask + (length == 126 ? 2 : length == 127 ? 8 : 0);
    }
    // Its payload's length, once its header is there (0 before).
    size_t payloadSize() const {
        if (pending_.size() < headerSize()) return 0;
        const unsigned length = static_cast<unsigned char>(pending_[1]) & 0x7f;
        if (length < 126) return length;
        uint64_t size = 0;
        for (size_t i = 0; i < (length == 126 ? 2u : 8u); ++i) {
            size = size << 8 | static_cast<unsigned char>(pending_[2 + i]);
        }
        return static_cast<size_t>(size);
    }

    int fd_ = -1;
    std::string pending_;
    bool ended_ = false;
    size_t sent_ = 0;
};

// The header of a client frame of that opcode (1 text, 2 binary) and payload length, masked with
// the key 0.
std::string frameHeader(int opcode, uint64_t length) {
    std::string header(1, static_cast<char>(0x80 | opcode));
    if (length < 126) {
        header += static_cast<char>(0x80 | length);
    } else if (length <= 0xffff) {
        header += static_cast<char>(0x80 | 126);
        for (int shift = 8; shift >= 0; shift -= 8) header += static_cast<char>((length >> shift) & 0xff);
    } else {
        header += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) header += static_cast<char>((length >> shift) & 0xff);
    }
    return header + std::string(4, '\0');
}

// So many empty text messages, one after another.
std::string emptyMessages(int count) {
    const std::string one = frameHeader(1, 0);
    std::string all;
    all.reserve(one.size() * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) all += one;
    return all;
}

// The service's TCP sockets on the service port that are in CLOSE-WAIT (their peer has sent its
// FIN and the service has not closed them).
int socketsInCloseWait(pid_t pid) {
    const std::string process = "/proc/" + std::to_string(pid);
    std::set<std::string> inodes;
    DIR* folder = opendir((process + "/fd").c_str());
    if (folder == nullptr) return -1;
    while (dirent* entry = readdir(folder)) {
        char target[64] = {};
        const std::string link = process + "/fd/" + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        const std::string text(target, n > 0 ? static_cast<size_t>(n) : 0);
        if (text.rfind("socket:[", 0) == 0) inodes.insert(text.substr(8, text.size() - 9));
    }
    closedir(folder);
    char port[8];
    std::snprintf(port, sizeof port, ":%04X", kvtest::kServicePort);
    int count = 0;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream lines(process + table);
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const bool onPort = local.size() > 5 && local.compare(local.size() - 5, 5, port) == 0;
            if (state == "08" && onPort && inodes.count(inode) != 0) {
                ++count;
            }
        }
    }
    return count;
}

// A figure bounded in time: its value, or the bound with a line saying that nothing came.
void pushBounded(Figures& out, const std::string& name, std::optional<double> milliseconds,
                 std::chrono::seconds bound) {
    if (!milliseconds) {
        std::printf("  %s: none within %lld s (the figure is that bound)\n", name.c_str(),
                    static_cast<long long>(bound.count()));
    }
    out.push_back({name, milliseconds.value_or(std::chrono::duration<double, std::milli>(bound).count()), true});
}

// A new client connects and sends a getter: the time to its handshake, and from the getter's
// sending to its answer, each nullopt when it did not come within the bound.
struct GetterTimes {
    std::optional<double> connect;
    std::optional<double> answer;
};

GetterTimes newClientGetter(std::chrono::seconds bound) {
    GetterTimes times;
    kvtest::WsTestClient client;
    const Clock::time_point start = Clock::now();
    if (!client.connect(kvtest::kServicePort, bound)) return times;
    times.connect = millisecondsBetween(start, Clock::now());
    const Clock::time_point sent = Clock::now();
    if (client.sendText(kGetter, bound) && receiveAnswer(client, "getSdkVersion", sent + bound)) {
        times.answer = millisecondsBetween(sent, Clock::now());
    }
    return times;
}

// 20 clients each send 40 requests of 1 MiB whose answers are as large (an unknown "apiName" is
// answered under that name), read none of the answers and half-close their connection (FIN, no
// close frame) once written, or when the writing bound passes. What the service holds 35 s later.
void halfClosedClients(pid_t service, Figures& out) {
    progress("20 clients ask for 40 MiB of answers each, read none and half-close (up to 60 s, then 35 s)");
    const long idle = kvtest::residentKilobytes(service);
    const std::string name(kLargeAnswerName, 'n');
    const std::string request = R"({"apiName":")" + name + R"("})";
    const std::string frame = frameHeader(1, request.size()) + request;
    std::atomic<int> written{0};
    std::atomic<int> wroteAll{0};
    std::vector<std::unique_ptr<RawWs>> clients;
    for (int c = 0; c < kHalfClosedClients; ++c) clients.push_back(std::make_unique<RawWs>());
    const Clock::time_point start = Clock::now();
    const Clock::time_point writeEnd = start + kHalfClosedWriteBound;
    std::vector<std::thread> threads;
    for (int c = 0; c < kHalfClosedClients; ++c) {
        threads.emplace_back([&, c] {
            RawWs& client = *clients[c];
            if (!client.connect(std::min(writeEnd, Clock::now() + 10s))) return;
            int i = 0;
            for (; i < kHalfClosedRequests && client.write(frame, writeEnd); ++i) ++written;
            if (i == kHalfClosedRequests) ++wroteAll;
            client.shutdownWrite();
        });
    }
    for (std::thread& t : threads) t.join();
    const Clock::time_point halfClosed = Clock::now();
    std::printf("  %d of %d requests written in %.1f s (%d clients wrote all 40), then all half-closed: "
                "%.0f MB over idle, %d sockets in CLOSE-WAIT\n",
                written.load(), kHalfClosedClients * kHalfClosedRequests,
                millisecondsBetween(start, halfClosed) / 1000.0, wroteAll.load(),
                static_cast<double>(kvtest::residentKilobytes(service) - idle) / 1024.0, socketsInCloseWait(service));
    std::this_thread::sleep_until(halfClosed + kHalfClosedWait);
    out.push_back({"resident memory over idle 35 s after 20 half-closed clients left 40 MiB unread, MB",
                   static_cast<double>(kvtest::residentKilobytes(service) - idle) / 1024.0, false});
    out.push_back({"  the service's sockets in CLOSE-WAIT then", static_cast<double>(socketsInCloseWait(service)),
                   false});
}

// One client sends 4,096 empty messages at once (texts that are not JSON get no answer); 0.3 s
// later another client sends a getter.
void emptiesBeforeGetter(Figures& out) {
    progress("4,096 empty messages, then another client's getter (up to 120 s)");
    RawWs sender;
    if (!sender.connect(Clock::now() + 10s) || !sender.write(emptyMessages(kEmptyMessages), Clock::now() + 10s)) return;
    std::this_thread::sleep_for(kEmptiesGetterDelay);
    pushBounded(out, "answer time of a getter sent 0.3 s after another client's 4,096 empty messages, ms",
                newClientGetter(kEmptiesAnswerBound).answer, kEmptiesAnswerBound);
}

// 20 clients each send 4,096 empty messages, leave (half with a close of the socket, half with a
// reset) and connect again, for 45 s; then a new client's getter.
void emptyFlood(pid_t service, Figures& out) {
    progress("20 clients send 4,096 empty messages, leave and come again (45 s), then a getter (up to 90 s)");
    const long idle = kvtest::residentKilobytes(service);
    const std::string empties = emptyMessages(kEmptyMessages);
    std::atomic<int> rounds{0};
    const Clock::time_point end = Clock::now() + kEmptyFloodWindow;
    std::vector<std::thread> threads;
    for (int c = 0; c < kEmptyFloodClients; ++c) {
        threads.emplace_back([&, c] {
            for (int i = c; Clock::now() < end; ++i) {
                RawWs client;
                const Clock::time_point until = std::min(end, Clock::now() + 2s);
                if (!client.connect(until)) {
                    std::this_thread::sleep_for(10ms);
                    continue;
                }
                if (client.write(empties, until)) ++rounds;
                if (i % 2 == 0) {
                    client.close();
                } else {
                    client.drop();
                }
            }
        });
    }
    long peak = idle;
    while (Clock::now() < end) {
        peak = std::max(peak, kvtest::residentKilobytes(service));
        std::this_thread::sleep_for(100ms);
    }
    for (std::thread& t : threads) t.join();
    std::printf("  %d rounds of 4,096 empty messages written\n", rounds.load());
    out.push_back({"resident memory over idle at its peak during 45 s of empty-message floods by 20 clients, MB",
                   static_cast<double>(peak - idle) / 1024.0, false});
    pushBounded(out, "  answer time of a new client's getter after them, ms",
                newClientGetter(kEmptyFloodAnswerBound).answer, kEmptyFloodAnswerBound);
}

// So many clients each start a binary message of messageBytes, send the first sentBytes of it and
// then send nothing more, keeping their sockets; then a new client connects and sends a getter.
GetterTimes stalledClients(int count, size_t messageBytes, size_t sentBytes, std::chrono::seconds bound) {
    const std::string start = frameHeader(2, messageBytes) + std::string(sentBytes, 's');
    std::vector<std::unique_ptr<RawWs>> clients;
    const Clock::time_point first = Clock::now();
    const Clock::time_point setupEnd = first + kStalledSetupBound;
    int failed = 0;
    for (int i = 0; i < count && Clock::now() < setupEnd; ++i) {
        auto client = std::make_unique<RawWs>();
        const Clock::time_point until = std::min(setupEnd, Clock::now() + 2s);
        if (client->connect(until) && client->write(start, until)) {
            clients.push_back(std::move(client));
        } else {
            ++failed;
        }
    }
    std::printf("  %zu of %d clients stalled in %.1f s (%d failed to connect or write)\n", clients.size(), count,
                millisecondsBetween(first, Clock::now()) / 1000.0, failed);
    std::this_thread::sleep_for(1s);
    return newClientGetter(bound);
}

void stalledLarge(Figures& out) {
    progress("4,200 clients stall 20 KiB into a 1 MiB message, then a new client's getter (up to 2 x 60 s)");
    const GetterTimes times = stalledClients(kStalledClients, 1u << 20, 20u << 10, kStalledBound);
    pushBounded(out, "time to connect beside 4,200 clients stalled 20 KiB into a 1 MiB message, ms", times.connect,
                kStalledBound);
    pushBounded(out, "  its getter's answer time, ms", times.answer, kStalledBound);
}

void stalledSmall(Figures& out) {
    progress("4,100 clients stall 1 KiB into a 4 KiB message, then a new client's getter (up to 40 s)");
    const GetterTimes times = stalledClients(kStalledSmallClients, 4u << 10, 1u << 10, kStalledSmallBound);
    pushBounded(out, "getter answer time beside 4,100 clients stalled 1 KiB into a 4 KiB message, ms",
                times.answer, kStalledSmallBound);
}

// One client alone sends one 14 MiB request at a steady 200 KiB/s (10 KiB every 50 ms): answered,
// or closed by the service and after how much.
void slowSender(Figures& out) {
    progress("one client sends a 14 MiB request at 200 KiB/s (about 72 s)");
    const std::string head = R"({"apiName":"getSdkVersion","parameter":{"pad":")";
    const std::string tail = R"("}})";
    std::string request = head + std::string(kSlowRequestBytes - head.size() - tail.size(), 'p') + tail;
    RawWs client;
    const Clock::time_point setup = Clock::now() + 10s;
    if (!client.connect(setup) || !client.write(frameHeader(1, request.size()), setup)) return;
    const Clock::time_point start = Clock::now();
    Clock::time_point next = start;
    size_t offset = 0;
    bool closed = false;
    std::optional<double> answered;
    while (offset < request.size() && !closed) {
        const size_t chunk = std::min(kSlowChunk, request.size() - offset);
        if (!client.write(request.data() + offset, chunk, Clock::now() + 10s)) {
            closed = client.ended();
            break;
        }
        offset += chunk;
        next += kSlowChunkGap;
        // Whatever the service sends meanwhile: a close frame, or the end of the stream.
        while (Clock::now() < next && !closed) {
            client.readMessage(next);
            closed = client.ended();
        }
    }
    const Clock::time_point answerBound = Clock::now() + kSlowAnswerBound;
    while (!closed && !answered) {
        const std::optional<std::string> message = client.readMessage(answerBound);
        if (message && parsed(*message)["apiName"].asString() == "getSdkVersion") {
            answered = millisecondsBetween(start, Clock::now());
        } else if (!message) {
            closed = client.ended();
            break;
        }
    }
    const double seconds = millisecondsBetween(start, Clock::now()) / 1000.0;
    std::printf("  %s after %.1f s, %.1f MiB sent\n",
                answered ? "answered"
                         : closed ? "closed by the service" : "neither answered nor closed",
                seconds, static_cast<double>(client.sent()) / (1 << 20));
    out.push_back({"a 14 MiB request sent at 200 KiB/s answered (1 yes, 0 no)", answered ? 1.0 : 0.0, false});
    out.push_back({"  seconds from its first byte to its answer, or to its closing", seconds, true});
    out.push_back({"  it was closed by the service (1 yes, 0 no)", closed ? 1.0 : 0.0, false});
    out.push_back({"  MiB sent when it ended", static_cast<double>(client.sent()) / (1 << 20), false});
}

// The groups of figures, each on a service of its own, by the names the command line gives.
const std::vector<std::string> kGroups = {"main", "looping", "flood", "flood16", "halfopen", "departures", "stop",
                                          "ping", "uploads", "halfclosed", "empties", "emptyflood", "stalled",
                                          "slowsender"};

Figures measure(const std::string& binDir, const std::vector<std::string>& groups) {
    const auto wanted = [&](const std::string& group) {
        return std::find(groups.begin(), groups.end(), group) != groups.end();
    };
    Figures out;
    if (wanted("main")) {
        if (auto service = startService(binDir, "main")) {
            out.push_back({"resident memory idle, kB",
                           static_cast<double>(kvtest::residentKilobytes(service->pid())), false});
            idleWakeups(service->pid(), out);
            idleRoundTrips(out);
            roundTrips(out);
            requestsPerSecond(out);
            idleConnections(service->pid(), out);
        }
    }
    if (wanted("looping")) {
        if (auto service = startService(binDir, "looping")) loopingClients(out);
    }
    if (wanted("flood")) {
        if (auto service = startService(binDir, "flood")) flood(service->pid(), 1, kFloodWindow, out);
    }
    if (wanted("flood16")) {
        if (auto service = startService(binDir, "flood16")) {
            flood(service->pid(), kFloodClients, kFloodWindowOfMany, out);
        }
    }
    if (wanted("halfopen")) {
        if (auto service = startService(binDir, "halfopen")) halfOpenConnections(service->pid(), out);
    }
    if (wanted("departures")) {
        const std::string scenario = R"({"delayMs":{"endJob":)" + std::to_string(kDepartureSdkMs) +
                                     R"(,"closePrinter":)" + std::to_string(kDepartureSdkMs) + "}}";
        if (auto service = startService(binDir, "departures", scenario, true)) departures(*service, out);
    }
    if (wanted("stop")) {
        const std::string scenario = R"({"delayMs":{"getSdkVersion":)" + std::to_string(kQueuedGetterSdkMs) + "}}";
        if (auto service = startService(binDir, "stop.own", scenario)) stopBehindGetters(true, out);
        if (auto service = startService(binDir, "stop.other", scenario)) stopBehindGetters(false, out);
    }
    if (wanted("ping")) {
        if (auto service = startService(binDir, "ping")) pingsDuringChurn(out, false);
        if (auto service = startService(binDir, "ping-load")) pingsDuringChurn(out, true);
    }
    if (wanted("uploads")) {
        if (auto service = startService(binDir, "uploads")) twoStepUploads(service->pid(), out);
    }
    if (wanted("halfclosed")) {
        if (auto service = startService(binDir, "halfclosed")) halfClosedClients(service->pid(), out);
    }
    if (wanted("empties")) {
        if (auto service = startService(binDir, "empties")) emptiesBeforeGetter(out);
    }
    if (wanted("emptyflood")) {
        if (auto service = startService(binDir, "emptyflood")) emptyFlood(service->pid(), out);
    }
    if (wanted("stalled")) {
        if (auto service = startService(binDir, "stalled")) stalledLarge(out);
        if (auto service = startService(binDir, "stalled.small")) stalledSmall(out);
    }
    if (wanted("slowsender")) {
        if (auto service = startService(binDir, "slowsender")) slowSender(out);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> groups(argv + 1, argv + argc);
    for (const std::string& group : groups) {
        if (std::find(kGroups.begin(), kGroups.end(), group) == kGroups.end()) {
            std::fprintf(stderr, "unknown group %s; the groups:", group.c_str());
            for (const std::string& known : kGroups) std::fprintf(stderr, " %s", known.c_str());
            std::fprintf(stderr, "\n");
            return 2;
        }
    }
    if (groups.empty()) groups = kGroups;
    // Thousands of connections (up to 4,200) need more descriptors than the usual soft limit (the
    // service inherits it).
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    const char* baselineDir = std::getenv("KV_BASELINE_BIN");
    const bool withBaseline = baselineDir != nullptr && *baselineDir != '\0';

    std::fprintf(stderr, "measuring %s\n", kvtest::serviceBinary().c_str());
    const Figures current = measure("", groups);
    Figures baseline;
    if (withBaseline) {
        std::fprintf(stderr, "measuring %s/kvPrinter\n", baselineDir);
        baseline = measure(baselineDir, groups);
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
