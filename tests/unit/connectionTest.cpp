// One client connection, in process on a port of its own: every message handed to the request
// queue under the client's id, texts written one at a time in order of hand-over (with the count
// of those waiting logged), also from several threads, the end of a connection, and answers routed
// to the client of the current request. (Frame types, long answers and failed handshakes are
// proved against the real service in tests/integration.)
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "kvPrinter/printServer.h"
#include "tests/support/logCapture.h"
#include "tests/support/wsTestClient.h"
#include "webSocketServer/connection.h"
#include "webSocketServer/connectionRegistry.h"

namespace {

namespace net = boost::asio;
using net::ip::tcp;
using kvtest::WsMessage;
using kvtest::WsTestClient;
using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 20s) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void clearQueue() {
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    printTaskQueue.tasks = {};
}

// The next task the connection queued, waiting for it to arrive.
std::optional<PrintTask> nextTask() {
    std::optional<PrintTask> task;
    waitFor([&] { return (task = takePrintTask()).has_value(); });
    return task;
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearQueue();
        acceptor.open(tcp::v4());
        acceptor.bind(tcp::endpoint(net::ip::address_v4::loopback(), 0));
        acceptor.listen();
        port = acceptor.local_endpoint().port();
        ioThread = std::thread([this] { ioc.run(); });
    }

    void TearDown() override {
        ConnectionRegistry::getInstance().removeAll();
        work.reset();
        ioc.stop();
        ioThread.join();
        clearQueue();
    }

    // Accepts the next TCP client into a new connection and starts it, on the network thread.
    std::future<std::shared_ptr<Connection>> acceptNext() {
        auto promise = std::make_shared<std::promise<std::shared_ptr<Connection>>>();
        auto future = promise->get_future();
        net::post(ioc, [this, promise] {
            auto connection = std::make_shared<Connection>(ioc);
            acceptor.async_accept(connection->getSocket(), [connection, promise](boost::system::error_code ec) {
                if (!ec) connection->start();
                promise->set_value(connection);
            });
        });
        return future;
    }

    // A connected client and its connection, registered.
    std::shared_ptr<Connection> connectClient(WsTestClient& client) {
        auto accepted = acceptNext();
        if (!client.connect(port)) return nullptr;
        std::shared_ptr<Connection> connection = accepted.get();
        const std::string id = connection->getUuid();
        if (!waitFor([&] { return ConnectionRegistry::getInstance().getConnection(id) != nullptr; })) return nullptr;
        return connection;
    }

    LogCapture log;
    net::io_context ioc;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work{std::in_place, ioc.get_executor()};
    tcp::acceptor acceptor{ioc};
    unsigned short port = 0;
    std::thread ioThread;
};

TEST_F(ConnectionTest, MessagesBecomeTasksOfTheClientExactlyAsReceived) {
    WsTestClient client;
    auto connection = connectClient(client);
    ASSERT_TRUE(connection);
    const std::string id = connection->getUuid();

    for (const std::string& text : {std::string("hello"), std::string(" {\"apiName\":\"getPower\"}\n "),
                                   std::string("\xe4\xb8\xad\xe6\x96\x87")}) {
        ASSERT_TRUE(client.sendText(text));
        std::optional<PrintTask> task = nextTask();
        ASSERT_TRUE(task);
        EXPECT_EQ(task->clientId, id);
        EXPECT_EQ(task->message, text);
        EXPECT_TRUE(log.contains("[INFO]:websocket{UUID:" + id + "} receive msg is " + text));
    }
    ASSERT_TRUE(client.sendBinary(std::string("\x00\xff\x01", 3)));
    std::optional<PrintTask> task = nextTask();
    ASSERT_TRUE(task);
    EXPECT_EQ(task->message, std::string("\x00\xff\x01", 3));
}

TEST_F(ConnectionTest, TextsHandedOverDuringAWriteAreCountedAndWrittenInOrder) {
    WsTestClient client;
    auto connection = connectClient(client);
    ASSERT_TRUE(connection);

    // Hold the connection's strand so that all three are handed over before the first is written.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    net::post(connection->getSocket().get_executor(), [released] { released.wait(); });
    connection->send("one");
    connection->send("two");
    connection->send("three");
    release.set_value();

    for (const char* expected : {"one", "two", "three"}) {
        std::optional<WsMessage> m = client.receive();
        ASSERT_TRUE(m) << expected;
        EXPECT_EQ(m->text, expected);
    }
    EXPECT_EQ(log.count("[INFO]:websocket async send msg is: "), 3);
    EXPECT_EQ(log.count("[INFO]:待发送任务数: 1"), 1);
    EXPECT_EQ(log.count("[INFO]:待发送任务数: 2"), 1);
    EXPECT_EQ(log.count("[INFO]:待发送任务数: "), 2);
}

TEST_F(ConnectionTest, TextsFromTwoThreadsArriveWholeEachInItsOwnOrder) {
    WsTestClient client;
    auto connection = connectClient(client);
    ASSERT_TRUE(connection);
    constexpr int kEach = 500;
    auto sender = [&](char tag) {
        for (int i = 0; i < kEach; ++i) connection->send(std::string(1, tag) + std::to_string(i) + std::string(300, tag));
    };
    std::thread worker(sender, 'w');
    std::thread sdk(sender, 'e');
    worker.join();
    sdk.join();
    int next['z' + 1] = {};
    for (int received = 0; received < 2 * kEach; ++received) {
        std::optional<WsMessage> m = client.receive();
        ASSERT_TRUE(m) << "after " << received;
        const char tag = m->text[0];
        ASSERT_TRUE(tag == 'w' || tag == 'e') << m->text.substr(0, 20);
        EXPECT_EQ(m->text, std::string(1, tag) + std::to_string(next[static_cast<int>(tag)]) + std::string(300, tag));
        ++next[static_cast<int>(tag)];
    }
}

TEST_F(ConnectionTest, WritesGoOutAtOnceWithoutWaitingForTheClientsAcknowledgement) {
    // Long answers go out as several frames and events follow answers closely; with Nagle's
    // algorithm on, each such write waited for the client's delayed acknowledgement (40 ms here).
    WsTestClient client;
    auto connection = connectClient(client);
    ASSERT_TRUE(connection);
    std::promise<bool> noDelay;
    net::post(ioc, [&] {
        tcp::no_delay option;
        boost::system::error_code ec;
        connection->getSocket().get_option(option, ec);
        noDelay.set_value(!ec && option.value());
    });
    EXPECT_TRUE(noDelay.get_future().get());
}

TEST_F(ConnectionTest, ACleanCloseUnregistersAndDestroysTheConnection) {
    WsTestClient client;
    auto connection = connectClient(client);
    ASSERT_TRUE(connection);
    const std::string id = connection->getUuid();
    std::weak_ptr<Connection> watch = connection;
    connection.reset();

    EXPECT_TRUE(client.close());
    ASSERT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + id); }));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(ConnectionRegistry::getInstance().getConnection(id), nullptr);
    EXPECT_EQ(log.count("[ERROR]:websocket async read error is The WebSocket stream was gracefully closed at both "
                        "endpoints"),
              1);
}

// ---- answers and events reach the client of the current request -----------------------------

TEST_F(ConnectionTest, SendToCurrentClientReachesOnlyThatClientFromAnyThread) {
    WsTestClient a, b;
    auto connectionA = connectClient(a);
    auto connectionB = connectClient(b);
    ASSERT_TRUE(connectionA && connectionB);

    setCurrentClientId(connectionA->getUuid());
    sendToCurrentClient("answer for a");
    std::optional<WsMessage> m = a.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "answer for a");
    EXPECT_TRUE(b.expectNothing(200ms));

    // The printer SDK raises events on a thread of its own; they follow the current request.
    setCurrentClientId(connectionB->getUuid());
    std::thread([] { sendToCurrentClient("event"); }).join();
    m = b.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "event");
    EXPECT_TRUE(a.expectNothing(200ms));

    // Once the client of the current request has gone, what is meant for it is dropped.
    const std::string idB = connectionB->getUuid();
    connectionB.reset();
    ASSERT_TRUE(b.close());
    ASSERT_TRUE(waitFor([&] { return ConnectionRegistry::getInstance().getConnection(idB) == nullptr; }));
    sendToCurrentClient("nobody");
    EXPECT_TRUE(a.expectNothing(200ms));
    setCurrentClientId("");
}

}  // namespace
