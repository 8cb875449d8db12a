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
// It prints figures and asserts nothing.
//
// With KV_BASELINE_BIN set to a folder holding another build of the service (for example
// /work/baseline/build/bin), every figure is measured against that one too, in the same run, and
// printed beside today's, with the ratio of the two where the figure is a time.
//
// Arguments name the groups of figures to measure (each on a service of its own), all when there
// are none: main looping flood flood16 halfopen departures stop ping uploads. For example
//     networkBench departures stop
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
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

// The groups of figures, each on a service of its own, by the names the command line gives.
const std::vector<std::string> kGroups = {"main", "looping", "flood", "flood16", "halfopen", "departures", "stop",
                                          "ping", "uploads"};

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
    // 2,000 connections need more descriptors than the usual soft limit (the service inherits it).
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
