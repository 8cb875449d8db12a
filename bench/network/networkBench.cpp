// Figures of the network side, measured against the real service with the simulated printer:
// the round trip of a getter (p50, p99 over sequential requests), requests per second with
// several clients, and the service's resident memory idle and with many idle connections.
// It prints figures and asserts nothing. The worker takes one request per 10 ms pass, which is
// the floor of every round trip.
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

const std::string kGetter = R"({"apiName":"getSdkVersion"})";

double millisecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double percentile(std::vector<double> sorted, double p) {
    std::sort(sorted.begin(), sorted.end());
    const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(p / 100.0 * sorted.size()));
    return sorted[index];
}

void roundTrips() {
    kvtest::WsTestClient client;
    if (!client.connect()) {
        std::printf("round trip: cannot connect\n");
        return;
    }
    std::vector<double> times;
    for (int i = 0; i < kSequentialRequests; ++i) {
        const Clock::time_point sent = Clock::now();
        if (!client.sendText(kGetter) || !client.receive()) {
            std::printf("round trip: request %d failed\n", i);
            return;
        }
        times.push_back(millisecondsBetween(sent, Clock::now()));
    }
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / static_cast<double>(times.size());
    std::printf("round trip of %s over %d sequential requests: p50 %.2f ms, p99 %.2f ms, mean %.2f ms, "
                "min %.2f ms, max %.2f ms\n",
                kGetter.c_str(), kSequentialRequests, percentile(times, 50), percentile(times, 99), mean,
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
}

void requestsPerSecond() {
    std::vector<std::unique_ptr<kvtest::WsTestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<kvtest::WsTestClient>());
        if (!clients.back()->connect()) {
            std::printf("requests per second: cannot connect client %d\n", i);
            return;
        }
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
    std::printf("requests per second with %d clients, each waiting for its answer: %.1f (%d answered in %.2f s)\n",
                kClients, total / seconds, total, seconds);
}

// Idle WebSocket connections on one event loop, which a test client per connection would not be.
void idleConnections(pid_t service) {
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
        if (ec) {
            std::printf("idle connections: connection %d failed: %s\n", i, ec.message().c_str());
            break;
        }
        streams.push_back(std::move(ws));
    }
    std::this_thread::sleep_for(1s);
    std::printf("resident memory with %zu idle connections: %ld kB\n", streams.size(),
                kvtest::residentKilobytes(service));
}

}  // namespace

int main() {
    kvtest::ServiceOptions options;
    options.workDir = kvtest::freshWorkDir("bench.network");
    // The trace file would grow with every request; the figures are of the service alone.
    options.environment["KVSIM_TRACE"] = "";
    kvtest::ServiceProcess service(options);
    if (!service.start()) {
        std::printf("the service did not start; its standard error:\n%s\n", service.stderrText().c_str());
        return 1;
    }
    std::this_thread::sleep_for(1s);
    const long idle = kvtest::residentKilobytes(service.pid());
    std::printf("resident memory idle: %ld kB\n", idle);

    roundTrips();
    requestsPerSecond();
    idleConnections(service.pid());
    service.stop();
    return 0;
}
