// The request queue seen from clients: requests queued behind a slow one run in their order of
// arrival, and a stop request overtakes and discards every waiting request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/requests.h"
#include "tests/support/serviceFixture.h"

namespace {

using namespace std::chrono_literals;
using kvtest::apiNameOf;
using kvtest::requestFor;
using kvtest::WsMessage;
using kvtest::WsTestClient;

// The simulated SDK holds the worker in "pausePrint" long enough for a test to queue behind it.
const char* const kSlowPause = R"({"delayMs":{"pausePrint":1500}})";

class RequestQueue : public kvtest::ServiceTest {
protected:
    void SetUp() override { startService(kSlowPause); }

    // Sends the slow request and returns once the worker is inside it.
    void occupyWorker(WsTestClient& client) {
        ASSERT_TRUE(client.sendText(requestFor("pausePrint")));
        ASSERT_TRUE(service().waitForTraceCall("pausePrint"));
    }

    std::vector<std::string> receiveNames(WsTestClient& client, size_t count) {
        std::vector<std::string> names;
        while (names.size() < count) {
            std::optional<WsMessage> m = client.receive(30s);
            if (!m) break;
            names.push_back(apiNameOf(m->text));
        }
        return names;
    }
};

TEST_F(RequestQueue, FourRequestsQueuedBehindASlowOneRunInTheirOrderOfArrival) {
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    occupyWorker(client);
    for (const char* name : {"first", "second", "third", "fourth"}) ASSERT_TRUE(client.sendText(requestFor(name)));
    EXPECT_EQ(receiveNames(client, 5),
              (std::vector<std::string>{"pausePrint", "first", "second", "third", "fourth"}));
}

TEST_F(RequestQueue, AStopDiscardsEveryWaitingRequestOfEveryClientAndIsAnswered) {
    WsTestClient a, b;
    ASSERT_TRUE(a.connect());
    ASSERT_TRUE(b.connect());
    occupyWorker(a);
    ASSERT_TRUE(a.sendText(requestFor("waitingA1")));
    ASSERT_TRUE(b.sendText(requestFor("waitingB")));
    ASSERT_TRUE(a.sendText(requestFor("waitingA2")));
    ASSERT_TRUE(b.sendText(requestFor("stopPrint")));
    ASSERT_TRUE(service().waitForStderr("receive msg is {\"apiName\":\"stopPrint\"}"));

    EXPECT_EQ(receiveNames(a, 1), std::vector<std::string>{"pausePrint"});
    EXPECT_EQ(receiveNames(b, 1), std::vector<std::string>{"stopPrint"});
    EXPECT_TRUE(a.expectNothing(500ms));
    EXPECT_TRUE(b.expectNothing(100ms));

    // Afterwards requests are served as usual.
    ASSERT_TRUE(a.sendText(requestFor("afterwards")));
    EXPECT_EQ(receiveNames(a, 1), std::vector<std::string>{"afterwards"});
}

}  // namespace
