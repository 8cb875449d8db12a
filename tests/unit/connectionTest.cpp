// One client connection, in process on a port of its own: every message handed to the request
// queue under the client's id, texts written one at a time in order of hand-over (with the count
// of those waiting logged), also from several threads, the end of a connection, answers routed
// to the client of the current request, and the limits that keep one peer from hurting the others
// (what it may have waiting, what it may leave unread, how long it may hold a socket silently, the
// read buffer it keeps, and a disconnect that never holds up the network thread). (Frame types,
// long answers and failed handshakes are proved against the real service in tests/integration.)
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printServer.h"
#include "kvPrinter/printerSdkBinding.h"
#include "tests/support/fakePrinterSdk.h"
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
    printTaskQueue.tasks.clear();
}

// The next task the connection queued, waiting for it to arrive.
std::optional<PrintTask> nextTask() {
    std::optional<PrintTask> task;
    waitFor([&] { return (task = takePrintTask()).has_value(); });
    return task;
}

// The upgrade request of a WebSocket client, written by hand.
const char* const kUpgrade =
    "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

// Sends the upgrade request on a raw client; true once the service has answered it with 101.
bool upgraded(kvtest::RawTcpClient& raw) {
    return raw.write(kUpgrade) && raw.readUntil("\r\n\r\n").find(" 101 ") != std::string::npos;
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
        if (budget) budget->close();
        work.reset();
        ioc.stop();
        ioThread.join();
        clearQueue();
    }

    // Accepts the next TCP client into a new connection and starts it, on the network thread. The
    // budget of all of a test's connections takes the settings of the first.
    std::future<std::shared_ptr<Connection>> acceptNext(ConnectionSettings settings = {},
                                                        ConnectionHooks hooks = printServerHooks()) {
        auto promise = std::make_shared<std::promise<std::shared_ptr<Connection>>>();
        auto future = promise->get_future();
        net::post(ioc, [this, promise, settings, hooks] {
            if (!budget) budget = std::make_shared<ClientBudget>(ioc, settings);
            auto connection = std::make_shared<Connection>(ioc, budget, hooks, settings);
            acceptor.async_accept(connection->getSocket(), [connection, promise](boost::system::error_code ec) {
                if (!ec) connection->start();
                promise->set_value(connection);
            });
        });
        return future;
    }

    // A connected client and its connection, registered.
    std::shared_ptr<Connection> connectClient(WsTestClient& client, ConnectionSettings settings = {},
                                              ConnectionHooks hooks = printServerHooks()) {
        auto accepted = acceptNext(settings, std::move(hooks));
        if (!client.connect(port)) return nullptr;
        std::shared_ptr<Connection> connection = accepted.get();
        const std::string id = connection->getUuid();
        if (!waitFor([&] { return ConnectionRegistry::getInstance().getConnection(id) != nullptr; })) return nullptr;
        return connection;
    }

    // Runs on the network thread, where the budget's strand runs too, and returns what it gives.
    template <class Look>
    auto onLoop(Look look) {
        std::promise<decltype(look())> result;
        net::post(ioc, [&] { result.set_value(look()); });
        return result.get_future().get();
    }
    // Nothing is counted any more, and no rule of the budget broke on the way.
    bool budgetEmpty() {
        return onLoop([this] {
            return budget->usedBytes() == 0 && budget->accountCount() == 0 && budget->unsentBytes() == 0 &&
                   budget->invariantBroken().empty() && budget->brokenRules() == 0;
        });
    }

    LogCapture log;
    net::io_context ioc;
    std::shared_ptr<ClientBudget> budget;
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

// ---- limits ------------------------------------------------------------------------------------

size_t waitingTasks() {
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    return printTaskQueue.tasks.size();
}

std::vector<std::string> drainMessages() {
    std::vector<std::string> out;
    while (std::optional<PrintTask> task = takePrintTask()) out.push_back(task->message);
    return out;
}

TEST_F(ConnectionTest, AClientWithItsFillWaitingIsNotReadUntilTheWorkerHasServedHalf) {
    ConnectionSettings settings;
    settings.maxQueuedRequests = 4;
    WsTestClient flooder, other;
    ASSERT_TRUE(connectClient(flooder, settings));
    ASSERT_TRUE(connectClient(other, settings));
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(flooder.sendText("a" + std::to_string(i)));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 4; }));
    // Others are read all the same.
    ASSERT_TRUE(other.sendText("b0"));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 5; }));
    // One served is not enough: reading resumes at half, not one under the bound.
    EXPECT_EQ(takePrintTask()->message, "a0");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(waitingTasks(), 4u) << "the rest waits in TCP";
    EXPECT_EQ(takePrintTask()->message, "a1");
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 5; }));
    // A stop discards the flooder's waiting requests: their room is given back as well.
    ASSERT_TRUE(other.sendText("stopPrint"));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 6; }));
    EXPECT_EQ(takePrintTask()->message, "stopPrint");
    std::vector<std::string> rest;
    ASSERT_TRUE(waitFor([&] {
        for (std::string m : drainMessages()) rest.push_back(m);
        return rest.size() == 2;
    }));
    EXPECT_EQ(rest, (std::vector<std::string>{"a6", "a7"})) << "nothing lost, nothing reordered";
}

TEST_F(ConnectionTest, ABurstOfAPageIsReadWholeSoThatAStopBehindItDiscardsAllOfIt) {
    WsTestClient client;
    ASSERT_TRUE(connectClient(client));
    for (int i = 0; i < 150; ++i) ASSERT_TRUE(client.sendText(R"({"apiName":"getPrinterSn"})"));
    ASSERT_TRUE(client.sendText(R"({"apiName":"stopPrint"})"));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 151; }));
    EXPECT_EQ(takePrintTask()->message, R"({"apiName":"stopPrint"})");
    EXPECT_TRUE(drainMessages().empty());
}

// Small clients of 4,000 bytes, and room past them for that many whole messages at a time.
ConnectionSettings withMessageRooms(std::size_t messageLimit, std::size_t rooms) {
    ConnectionSettings settings;
    settings.smallClientBytes = 4000;
    settings.keptForStartsBytes = 50000;
    settings.keptForSmallBytes = 50000;
    settings.messageLimit = messageLimit;
    settings.maxTotalQueuedBytes = 100000 + rooms * (messageLimit + settings.requestOverheadBytes) + messageLimit / 2;
    return settings;
}

TEST_F(ConnectionTest, LargeMessagesSentInTwoStepsPastTheTotalAreAllReadWhileGettersKeepWaiting) {
    // Room for two messages at a time; six of 1,000,000 bytes, each sent as 700,000 and, a little
    // later, the rest. Two clients keep two getters waiting all the while. Before, half-read
    // messages filled the total past its mark, and one was read on only while no whole request
    // waited: none was ever read whole.
    const ConnectionSettings settings = withMessageRooms(1200000, 2);
    constexpr int kLarge = 6;
    std::map<std::string, std::unique_ptr<WsTestClient>> getters;
    for (int i = 0; i < 2; ++i) {
        auto client = std::make_unique<WsTestClient>();
        auto connection = connectClient(*client, settings);
        ASSERT_TRUE(connection);
        for (int n = 0; n < 2; ++n) ASSERT_TRUE(client->sendText("getter"));
        getters[connection->getUuid()] = std::move(client);
    }
    std::vector<std::unique_ptr<kvtest::RawTcpClient>> large;
    for (int i = 0; i < kLarge; ++i) {
        auto accepted = acceptNext(settings);
        large.push_back(std::make_unique<kvtest::RawTcpClient>());
        ASSERT_TRUE(large.back()->connect(port));
        ASSERT_TRUE(upgraded(*large.back()));
    }
    std::vector<std::thread> senders;
    for (int i = 0; i < kLarge; ++i) {
        senders.emplace_back([&, i] {
            // A masked binary frame of 1,000,000 bytes (mask 0: the bytes are sent as they are).
            const std::string header("\x82\xFF\0\0\0\0\0\x0F\x42\x40\0\0\0\0", 14);
            const char fill = static_cast<char>('A' + i);
            large[i]->write(header + std::string(700000, fill));
            std::this_thread::sleep_for(200ms);
            large[i]->write(std::string(300000, fill));
        });
    }
    // The worker: each getter served is sent again, so that two of each client always wait.
    int read = 0;
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (read < kLarge && std::chrono::steady_clock::now() < until) {
        std::optional<PrintTask> task = takePrintTask();
        if (!task) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        if (task->message == "getter") {
            ASSERT_TRUE(getters.at(task->clientId)->sendText("getter"));
        } else {
            EXPECT_EQ(task->message.size(), 1000000u);
            ++read;
        }
        std::this_thread::sleep_for(5ms);
    }
    for (std::thread& sender : senders) sender.join();
    EXPECT_EQ(read, kLarge);
}

// With a printer service on the fake SDK and the disconnect thread running.
class ConnectionWithServiceTest : public ConnectionTest {
protected:
    void SetUp() override {
        ConnectionTest::SetUp();
        printerService = new cKvPrinterService(&FakePrinterSdk::load);
        FakePrinterSdk::instance().clearCalls();
        startDisconnectWorker();
    }
    void TearDown() override {
        ConnectionTest::TearDown();
        stopDisconnectWorker();
        delete printerService;
        printerService = nullptr;
    }
    static bool printerClosed() {
        return FakePrinterSdk::instance().callNames() == std::vector<std::string>{"endJob", "closePrinter"};
    }
};

TEST_F(ConnectionWithServiceTest, AClientThatLeavesTooMuchUnreadIsClosedLikeAFailedOne) {
    ConnectionSettings settings;
    settings.maxUnsentBytes = 1 << 20;
    WsTestClient client;  // never reads
    auto connection = connectClient(client, settings);
    ASSERT_TRUE(connection);
    const std::string id = connection->getUuid();
    for (int i = 0; i < 128; ++i) connection->send(std::string(256 << 10, 'p'));
    connection.reset();
    ASSERT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + id); }));
    EXPECT_EQ(log.count("leaves more than 1048576 bytes unread, connection closed"), 1);
    EXPECT_EQ(log.count("[ERROR]:"), 1) << "one line, not one per failed operation";
    EXPECT_EQ(ConnectionRegistry::getInstance().getConnection(id), nullptr);
    ASSERT_TRUE(waitFor(printerClosed));
}

TEST_F(ConnectionWithServiceTest, OfAllClientsTogetherTheOneThatLeavesTheMostUnreadIsClosed) {
    ConnectionSettings settings;
    settings.maxTotalUnsentBytes = 4 << 20;
    WsTestClient light, heavy;  // neither reads
    auto lightConnection = connectClient(light, settings);
    auto heavyConnection = connectClient(heavy, settings);
    ASSERT_TRUE(lightConnection && heavyConnection);
    const std::string heavyId = heavyConnection->getUuid();
    for (int i = 0; i < 8; ++i) lightConnection->send(std::string(256 << 10, 'l'));
    for (int i = 0; i < 64; ++i) heavyConnection->send(std::string(256 << 10, 'h'));
    heavyConnection.reset();
    ASSERT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + heavyId); }));
    EXPECT_EQ(log.count("leaves the most unread while all clients together leave more than 4194304 bytes, "
                        "connection closed"),
              1);
    EXPECT_NE(ConnectionRegistry::getInstance().getConnection(lightConnection->getUuid()), nullptr);
    ASSERT_TRUE(waitFor(printerClosed));
}

TEST_F(ConnectionWithServiceTest, APausedClientIsStillAClient) {
    ConnectionSettings settings;
    settings.maxQueuedRequests = 2;
    settings.idleTimeout = 1s;
    // One that ends its TCP connection without a close frame while it is not read has gone at
    // once: the job is ended and the printer closed while its requests still wait.
    auto accepted = acceptNext(settings);
    kvtest::RawTcpClient closing;
    ASSERT_TRUE(closing.connect(port));
    ASSERT_TRUE(upgraded(closing));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(closing.write(std::string("\x81\x82\0\0\0\0c", 7) + std::to_string(i)));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 2; }));
    closing.close();
    ASSERT_TRUE(waitFor(printerClosed));
    EXPECT_EQ(ConnectionRegistry::getInstance().getConnection(accepted.get()->getUuid()), nullptr);
    drainMessages();
    FakePrinterSdk::instance().clearCalls();

    // Its requests wait longer than the idle timeout while it answers pings: it stays.
    WsTestClient alive;
    auto connection = connectClient(alive, settings);
    ASSERT_TRUE(connection);
    const std::string aliveId = connection->getUuid();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(alive.sendText("a" + std::to_string(i)));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 2; }));
    EXPECT_TRUE(alive.expectNothing(2500ms));
    EXPECT_NE(ConnectionRegistry::getInstance().getConnection(aliveId), nullptr);
    EXPECT_TRUE(FakePrinterSdk::instance().callNames().empty());

    // So has one that resets meanwhile.
    WsTestClient resetting;
    connection = connectClient(resetting, settings);
    ASSERT_TRUE(connection);
    const std::string resetId = connection->getUuid();
    connection.reset();
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(resetting.sendText("r" + std::to_string(i)));
    ASSERT_TRUE(waitFor([] { return waitingTasks() == 4; }));
    resetting.drop();
    ASSERT_TRUE(waitFor(printerClosed));
    EXPECT_EQ(ConnectionRegistry::getInstance().getConnection(resetId), nullptr);
    EXPECT_EQ(waitingTasks(), 4u);
    drainMessages();
    EXPECT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + resetId); }));
}

TEST_F(ConnectionWithServiceTest, AClientThatReadsNothingHasGoneWithItsCloseFrameOrItsFinAndItsSocketGoesInTime) {
    // Before, one that half-closed (a FIN, no close frame) kept its socket and its answers for
    // good, and they no longer counted: 20 such clients held 748 MB.
    ConnectionSettings settings;
    settings.handshakeTimeout = 1s;
    const struct {
        const char* what;
        void (*end)(kvtest::RawTcpClient&);
    } endings[] = {
        // The peer then keeps its end of the TCP connection open.
        {"sends a masked close frame", [](kvtest::RawTcpClient& raw) { ASSERT_TRUE(raw.write(std::string("\x88\x80\0\0\0\0", 6))); }},
        {"half-closes", [](kvtest::RawTcpClient& raw) { raw.shutdownWrite(); }},
    };
    for (const auto& ending : endings) {
        auto accepted = acceptNext(settings);
        kvtest::RawTcpClient raw;
        ASSERT_TRUE(raw.connect(port));
        std::shared_ptr<Connection> connection = accepted.get();
        const std::string id = connection->getUuid();
        ASSERT_TRUE(upgraded(raw));
        // Registered once the service's side of the handshake is done, and only then sent to.
        ASSERT_TRUE(waitFor([&] { return ConnectionRegistry::getInstance().getConnection(id) != nullptr; }));
        // Answers that it does not read fill its socket, so that no close frame can answer its own.
        const int logged = log.count("[INFO]:待发送任务数");
        for (int i = 0; i < 64; ++i) connection->send(std::string(512 << 10, 'p'));
        connection.reset();
        ASSERT_TRUE(waitFor([&] { return log.count("[INFO]:待发送任务数") > logged; }));
        std::this_thread::sleep_for(500ms);  // the socket fills within a few megabytes
        ending.end(raw);
        ASSERT_TRUE(waitFor(printerClosed, 5s)) << ending.what;
        EXPECT_EQ(ConnectionRegistry::getInstance().getConnection(id), nullptr) << ending.what;
        EXPECT_GT(onLoop([this] { return budget->unsentBytes(); }), 0u) << ending.what << ": counted after it has gone";
        // The socket goes within the handshake's time, and its answers with it.
        EXPECT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + id); }, 5s)) << ending.what;
        EXPECT_TRUE(waitFor([&] { return budgetEmpty(); })) << ending.what;
        FakePrinterSdk::instance().clearCalls();
    }
}

TEST_F(ConnectionWithServiceTest, ADisconnectWaitsForTheSdkOffTheNetworkThread) {
    WsTestClient leaving, staying;
    ASSERT_TRUE(connectClient(leaving));
    ASSERT_TRUE(connectClient(staying));
    {
        // The worker is inside a long SDK call.
        std::lock_guard<std::mutex> busy(printerSdkCallMutex());
        ASSERT_TRUE(leaving.close());
        ASSERT_TRUE(staying.sendText("still served"));
        std::optional<PrintTask> task = nextTask();
        ASSERT_TRUE(task) << "the network thread waited for the SDK";
        EXPECT_EQ(task->message, "still served");
        EXPECT_TRUE(FakePrinterSdk::instance().callNames().empty());
    }
    // As soon as the SDK is free, the job is ended and the printer closed.
    EXPECT_TRUE(waitFor(printerClosed));
}

TEST_F(ConnectionWithServiceTest, AnExceptionInAHandlerEndsThatConnectionAloneAndTheOthersAreServed) {
    // Before, only the accept, read and write completions were guarded: one thrown elsewhere on a
    // connection's strand left the event loop and stopped the service for every client.
    std::atomic<bool> armed{false};
    ConnectionHooks hooks = printServerHooks();
    hooks.enteringHandler = [&armed](const char* handler) {
        if (std::string(handler) == "send" && armed.exchange(false)) throw std::runtime_error("thrown in a handler");
    };
    WsTestClient failing, other;
    auto failingConnection = connectClient(failing, {}, hooks);
    auto otherConnection = connectClient(other, {}, hooks);
    ASSERT_TRUE(failingConnection && otherConnection);
    const std::string failingId = failingConnection->getUuid();
    armed = true;
    failingConnection->send("never written");
    failingConnection.reset();
    ASSERT_TRUE(waitFor(printerClosed)) << "its end is a departure";
    EXPECT_TRUE(log.contains("[ERROR]:exception is thrown in a handler"));
    EXPECT_EQ(ConnectionRegistry::getInstance().getConnection(failingId), nullptr);
    EXPECT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + failingId); }));

    otherConnection->send("still written");
    std::optional<WsMessage> m = other.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "still written");
    ASSERT_TRUE(other.sendText("still read"));
    std::optional<PrintTask> task = nextTask();
    ASSERT_TRUE(task);
    EXPECT_EQ(task->message, "still read");
}

TEST_F(ConnectionTest, SilentPeersHoldNoSocketForEverButIdleOnesThatAnswerPingsStay) {
    ConnectionSettings settings;
    settings.handshakeTimeout = 300ms;
    const struct {
        const char* what;
        std::chrono::milliseconds idleTimeout;
        std::function<void(kvtest::RawTcpClient&)> act;
    } peers[] = {
        {"sends half of the upgrade", 1s, [](kvtest::RawTcpClient& raw) { ASSERT_TRUE(raw.write("GET / HTTP/1.1\r\n")); }},
        {"answers no ping", 1s,
         [](kvtest::RawTcpClient& raw) {
             ASSERT_TRUE(upgraded(raw));
         }},
        // The closing handshake ends within the handshake's time, not the idle timer's.
        {"answers no close frame", 60s,
         [](kvtest::RawTcpClient& raw) {
             ASSERT_TRUE(upgraded(raw));
             // A text frame that is not UTF-8: the service closes the WebSocket and waits for ours.
             ASSERT_TRUE(raw.write(std::string("\x81\x82\0\0\0\0\xff\xfe", 8)));
         }},
    };
    std::vector<std::unique_ptr<kvtest::RawTcpClient>> held;
    for (const auto& peer : peers) {
        settings.idleTimeout = peer.idleTimeout;
        auto accepted = acceptNext(settings);
        held.push_back(std::make_unique<kvtest::RawTcpClient>());
        ASSERT_TRUE(held.back()->connect(port));
        const std::string id = accepted.get()->getUuid();
        peer.act(*held.back());
        EXPECT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + id); })) << peer.what;
    }
    EXPECT_TRUE(log.contains("[ERROR]:websocket accept failed, err is The socket was closed due to a timeout"));

    WsTestClient answersPings;
    settings.idleTimeout = 1s;
    ASSERT_TRUE(connectClient(answersPings, settings));
    EXPECT_TRUE(answersPings.expectNothing(2500ms));
    EXPECT_TRUE(answersPings.isOpen());
}

TEST_F(ConnectionTest, AFloodOfEmptyMessagesDelaysAnotherClientByItsOwnBoundOnly) {
    // Before, empty messages cost nothing and a client could have 4,096 waiting: another
    // client's getter waited 42 s behind them.
    WsTestClient flooder, other;
    ASSERT_TRUE(connectClient(flooder));
    ASSERT_TRUE(connectClient(other));
    const std::size_t bound = ConnectionSettings{}.maxQueuedRequests;
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(flooder.sendText(""));
    ASSERT_TRUE(waitFor([&] { return waitingTasks() >= bound; }));
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(waitingTasks(), bound);
    ASSERT_TRUE(other.sendText("getter"));
    ASSERT_TRUE(waitFor([&] { return waitingTasks() == bound + 1; }));
    // Served behind the flooder's first ones only; those read as they are served come after it.
    const std::vector<std::string> served = drainMessages();
    ASSERT_GT(served.size(), bound);
    EXPECT_EQ(served[bound], "getter");
}

TEST_F(ConnectionWithServiceTest, AClientThatStallsInTheMiddleOfAMessageWhileAnotherWaitsForItsRoomIsClosed) {
    ConnectionSettings settings = withMessageRooms(100000, 1);
    settings.progressWindow = 300ms;
    // A masked binary frame of 50,000 bytes, of which the first 10,000 come.
    const std::string header("\x82\xFE\xC3\x50\0\0\0\0", 8);
    auto acceptedStalling = acceptNext(settings);
    kvtest::RawTcpClient stalling, waiting;
    ASSERT_TRUE(stalling.connect(port));
    ASSERT_TRUE(upgraded(stalling));
    const std::string stallingId = acceptedStalling.get()->getUuid();
    ASSERT_TRUE(stalling.write(header + std::string(10000, 's')));
    ASSERT_TRUE(waitFor([&] { return onLoop([this] { return budget->usedBytes(Part::large); }) > 0; }));
    // Alone it keeps the room as long as it likes.
    std::this_thread::sleep_for(700ms);
    EXPECT_FALSE(log.contains("connection destruction!" + stallingId));
    auto acceptedWaiting = acceptNext(settings);
    ASSERT_TRUE(waiting.connect(port));
    ASSERT_TRUE(upgraded(waiting));
    ASSERT_TRUE(waiting.write(header + std::string(10000, 'w')));
    EXPECT_TRUE(waitFor([&] { return log.contains("[INFO]:connection destruction!" + stallingId); }, 5s));
    EXPECT_EQ(log.count("sends less than 65536 bytes a second in the middle of a message while others wait for the "
                        "room it holds, connection closed"),
              1);
    EXPECT_TRUE(waitFor(printerClosed)) << "a departure like any other";
    ASSERT_TRUE(waiting.write(std::string(40000, 'w')));
    std::optional<PrintTask> task = nextTask();
    ASSERT_TRUE(task);
    EXPECT_EQ(task->message, std::string(50000, 'w'));
}

TEST_F(ConnectionWithServiceTest, AnExceptionWhileARequestIsHandedOverOrAClientEndsLeavesNothingCounted) {
    // Before, the request was counted before its share existed, and a client's end told the
    // budget last: an exception in between kept those bytes, or its room, counted for good.
    std::mutex mutex;
    std::string throwAt;
    ConnectionHooks hooks = printServerHooks();
    hooks.enteringHandler = [&](const char* step) {
        std::lock_guard<std::mutex> lock(mutex);
        if (throwAt == step) {
            throwAt.clear();
            throw std::runtime_error(std::string("thrown at ") + step);
        }
    };
    const auto arm = [&](const char* step) {
        std::lock_guard<std::mutex> lock(mutex);
        throwAt = step;
    };
    WsTestClient handing, ending;
    ASSERT_TRUE(connectClient(handing, {}, hooks));
    ASSERT_TRUE(connectClient(ending, {}, hooks));
    arm("hand over");
    ASSERT_TRUE(handing.sendBinary(std::string(5 << 20, 'h')));
    ASSERT_TRUE(waitFor([&] { return log.contains("[ERROR]:exception is thrown at hand over"); }));
    ASSERT_TRUE(waitFor(printerClosed)) << "its end is a departure";
    FakePrinterSdk::instance().clearCalls();
    arm("end");
    // Its close frame ends it; the exception then closes the socket before the answering frame.
    ending.close();
    ASSERT_TRUE(waitFor([&] { return log.contains("[ERROR]:exception is thrown at end"); }));
    ASSERT_TRUE(waitFor(printerClosed)) << "told once, all the same";
    EXPECT_TRUE(waitFor([&] { return budgetEmpty(); }));
    EXPECT_EQ(waitingTasks(), 0u);
}

TEST_F(ConnectionTest, TheReadBufferOfALargeMessageIsGivenBack) {
    WsTestClient client;
    auto connection = connectClient(client);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(client.sendText(std::string(1 << 20, 'x')));
    ASSERT_TRUE(nextTask());
    std::promise<size_t> capacity;
    net::post(connection->getSocket().get_executor(), [&] { capacity.set_value(connection->readBufferCapacity()); });
    EXPECT_LE(capacity.get_future().get(), ConnectionSettings{}.keptReadBufferBytes);
}

}  // namespace
