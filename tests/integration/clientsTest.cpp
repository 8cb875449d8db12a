// Several clients at once: answers and events go to the client of the current request, a client
// that goes away ends the print job and closes the printer, and many clients are served side by
// side.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/requests.h"
#include "tests/support/serviceFixture.h"

namespace {

using namespace std::chrono_literals;
using kvtest::apiNameOf;
using kvtest::noInterfaceAnswer;
using kvtest::requestFor;
using kvtest::WsMessage;
using kvtest::WsTestClient;

class Clients : public kvtest::ServiceTest {};

TEST_F(Clients, EachAnswerGoesToTheClientOfItsRequest) {
    startService(R"({"delayMs":{"pausePrint":500}})");
    WsTestClient a, b;
    ASSERT_TRUE(a.connect());
    ASSERT_TRUE(b.connect());
    ASSERT_TRUE(a.sendText(requestFor("pausePrint")));
    ASSERT_TRUE(service().waitForTraceCall("pausePrint"));
    ASSERT_TRUE(b.sendText(requestFor("fromB")));
    ASSERT_TRUE(a.sendText(requestFor("fromA")));

    std::optional<WsMessage> m = b.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, noInterfaceAnswer("fromB"));
    for (const char* expected : {"pausePrint", "fromA"}) {
        m = a.receive();
        ASSERT_TRUE(m);
        EXPECT_EQ(apiNameOf(m->text), expected);
    }
    EXPECT_TRUE(a.expectNothing(300ms));
    EXPECT_TRUE(b.expectNothing(100ms));
}

TEST_F(Clients, EventsGoToTheClientOfTheCurrentRequest) {
    // The first event is raised before any request (dropped), the second after client A's
    // request, once the worker has moved on to client B's.
    startService(R"({"events":[{"after":"initSdk","delayMs":0,"type":2,"value":40},
                               {"after":"pausePrint","delayMs":800,"type":2,"value":35}]})");
    WsTestClient a, b;
    ASSERT_TRUE(a.connect());
    ASSERT_TRUE(b.connect());
    ASSERT_TRUE(a.sendText(requestFor("pausePrint")));
    std::optional<WsMessage> m = a.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, kvtest::kPausePrintAnswer);
    ASSERT_TRUE(b.sendText(requestFor("fromB")));
    m = b.receive();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, noInterfaceAnswer("fromB"));

    m = b.receive();
    ASSERT_TRUE(m) << "the event";
    EXPECT_NE(m->text.find("35"), std::string::npos) << m->text;
    EXPECT_TRUE(a.expectNothing(300ms));
    EXPECT_TRUE(b.expectNothing(100ms));
}

TEST_F(Clients, AClientThatGoesAwayEndsTheJobAndClosesThePrinter) {
    startService();
    // The three ways a client goes: a clean close, a message over the size limit, a reset.
    const auto disconnects = std::vector<void (*)(WsTestClient&)>{
        [](WsTestClient& c) { EXPECT_TRUE(c.close()); },
        [](WsTestClient& c) {
            ASSERT_TRUE(c.sendText(std::string(16 * 1024 * 1024 + 1, 'x'), 60s));
            EXPECT_FALSE(c.receive(60s));
        },
        [](WsTestClient& c) { c.drop(); },
    };
    int round = 0;
    for (auto disconnect : disconnects) {
        ++round;
        WsTestClient client;
        ASSERT_TRUE(client.connect());
        ASSERT_TRUE(client.sendText(requestFor("pausePrint")));
        ASSERT_TRUE(client.receive());
        disconnect(client);
        ASSERT_TRUE(service().waitForTraceCall("closePrinter", 20s, round)) << "round " << round;
        const std::vector<std::string> calls = service().traceCalls();
        const auto lastPause = std::find(calls.rbegin(), calls.rend(), "pausePrint").base();
        const auto endJob = std::find(lastPause, calls.end(), "endJob");
        EXPECT_NE(endJob, calls.end()) << "round " << round;
        EXPECT_NE(std::find(endJob, calls.end(), "closePrinter"), calls.end()) << "closePrinter after endJob, round "
                                                                               << round;
    }
    EXPECT_TRUE(service().waitForStderr("websocket async read error is The WebSocket stream was gracefully "
                                        "closed at both endpoints"));
}

TEST_F(Clients, ClientsThatLeftCloseThePrinterBeforeTheNextClientConnectsIt) {
    // A departure's job end and printer close take 0.6 s: the four are gone long before theirs
    // could have been made one after another.
    startService(R"({"delayMs":{"endJob":300,"closePrinter":300}})");
    for (int i = 0; i < 4; ++i) {
        WsTestClient leaving;
        ASSERT_TRUE(leaving.connect());
        ASSERT_TRUE(leaving.close());
    }
    WsTestClient next;
    ASSERT_TRUE(next.connect());
    ASSERT_TRUE(next.sendText(R"({"apiName":"connetUsbPrinter","parameter":{"printerName":"KV-USB-01","port":1}})"));
    std::optional<WsMessage> m = next.receive(30s);
    ASSERT_TRUE(m);
    EXPECT_NE(m->text.find("onConnectSuccess"), std::string::npos) << m->text;
    // No departure is left to close its printer afterwards.
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(next.sendText(requestFor("getPrinterSn")));
        m = next.receive(30s);
        ASSERT_TRUE(m);
        EXPECT_NE(m->text.find("\"errorCode\":0"), std::string::npos) << "getter " << i << ": " << m->text;
    }
    const std::vector<std::string> calls = service().traceCalls();
    const auto connect = std::find(calls.begin(), calls.end(), "connectUsbPrinter");
    EXPECT_EQ(std::find(connect, calls.end(), "closePrinter"), calls.end());
}

TEST_F(Clients, ClientsThatKeepLeavingDoNotHoldUpTheOthersRequests) {
    // Clients leave faster than a departure's job end and printer close (0.2 s) are made, until
    // the staying client is answered or 30 s have passed.
    startService(R"({"delayMs":{"endJob":100,"closePrinter":100}})");
    std::atomic<bool> answered{false};
    bool leftUntilTheEnd = false;
    std::thread leaving([&] {
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (!answered) {
            if (std::chrono::steady_clock::now() >= until) {
                leftUntilTheEnd = true;
                return;
            }
            WsTestClient client;
            if (client.connect()) client.drop();
            std::this_thread::sleep_for(50ms);
        }
    });
    std::this_thread::sleep_for(500ms);
    WsTestClient staying;
    ASSERT_TRUE(staying.connect());
    ASSERT_TRUE(staying.sendText(requestFor("getSdkVersion")));
    EXPECT_TRUE(staying.receive(60s));
    answered = true;
    leaving.join();
    EXPECT_FALSE(leftUntilTheEnd) << "answered only once the others stopped leaving";
}

TEST_F(Clients, TwoHundredClientsConnectedAtOnceAreEachAnswered) {
    startService();
    constexpr int kClients = 200;
    std::vector<std::unique_ptr<WsTestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<WsTestClient>());
        ASSERT_TRUE(clients.back()->connect()) << "client " << i;
    }
    for (int i = 0; i < kClients; ++i) ASSERT_TRUE(clients[i]->sendText(requestFor("client" + std::to_string(i))));
    for (int i = 0; i < kClients; ++i) {
        std::optional<WsMessage> m = clients[i]->receive(60s);
        ASSERT_TRUE(m) << "client " << i;
        EXPECT_EQ(m->text, noInterfaceAnswer("client" + std::to_string(i)));
    }
}

}  // namespace
