// Requests over a real WebSocket connection to the running service: the handshake, answers, the
// frame type of answers, long answers in several frames, the message size limit, and what a
// client can do wrong without stopping the service.
#include <gtest/gtest.h>

#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket/error.hpp>

#include <sys/resource.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/requests.h"
#include "tests/support/serviceFixture.h"

namespace {

using namespace std::chrono_literals;
using kvtest::kPausePrintAnswer;
using kvtest::noInterfaceAnswer;
using kvtest::requestFor;
using kvtest::WsMessage;
using kvtest::WsTestClient;

constexpr size_t kMessageLimit = 16 * 1024 * 1024;

class NetworkRequests : public kvtest::ServiceTest {
protected:
    void SetUp() override { startService(); }

    // A client that is connected and whose answer to a request proves the service serves it.
    void expectServed(WsTestClient& client) {
        ASSERT_TRUE(client.sendText(requestFor("pausePrint")));
        std::optional<WsMessage> answer = client.receive();
        ASSERT_TRUE(answer) << client.lastError().message();
        EXPECT_EQ(answer->text, kPausePrintAnswer);
    }
};

TEST_F(NetworkRequests, TheHandshakeIsAnswered101AndARequestWithItsAnswer) {
    WsTestClient client;
    ASSERT_TRUE(client.connect()) << client.lastError().message();
    EXPECT_EQ(client.handshakeResponse().result_int(), 101u);
    EXPECT_EQ(client.handshakeResponse().reason(), "Switching Protocols");
    EXPECT_EQ(client.handshakeResponse()[boost::beast::http::field::server].find("Boost.Beast/"), 0u);

    ASSERT_TRUE(client.sendText(requestFor("pausePrint")));
    std::optional<WsMessage> answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, kPausePrintAnswer);
    EXPECT_FALSE(answer->binary);
    EXPECT_TRUE(service().waitForTraceCall("pausePrint"));
}

TEST_F(NetworkRequests, AnUnknownNameIsAnsweredNoThisInterface) {
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.sendText(requestFor("noSuchOperation")));
    std::optional<WsMessage> answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, noInterfaceAnswer("noSuchOperation"));
}

// The request reference (docs/requests.md) names every operation in its "#### " headings: each is
// served under its own name, and all 100 are there (89 operations and 11 drawing requests).
TEST_F(NetworkRequests, EveryRequestOfTheReferenceIsServedUnderItsOwnName) {
    std::ifstream reference(KV_SOURCE_DIR "/docs/requests.md");
    ASSERT_TRUE(reference);
    std::set<std::string> names;
    const std::regex quoted("\"([A-Za-z]+)\"");
    for (std::string line; std::getline(reference, line);) {
        if (line.rfind("#### ", 0) != 0) continue;
        for (std::sregex_iterator it(line.begin(), line.end(), quoted), end; it != end; ++it) names.insert((*it)[1]);
    }
    EXPECT_EQ(names.size(), 100u);

    WsTestClient client;
    ASSERT_TRUE(client.connect());
    for (const std::string& name : names) {
        ASSERT_TRUE(client.sendText(requestFor(name)));
        std::optional<WsMessage> answer = client.receive();
        ASSERT_TRUE(answer) << name;
        if (name == "getPrintQuality") {
            EXPECT_EQ(answer->text, "");
            continue;
        }
        EXPECT_EQ(kvtest::apiNameOf(answer->text), name) << answer->text;
        EXPECT_EQ(answer->text.find("no this interface"), std::string::npos) << answer->text;
    }
}

TEST_F(NetworkRequests, TextThatIsNotJsonGetsNoAnswerAndTheNextRequestIsAnswered) {
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    for (const char* text : {"hello", "{\"apiName\":", ""}) {
        ASSERT_TRUE(client.sendText(text));
        EXPECT_TRUE(client.expectNothing(300ms)) << "answered: " << text;
    }
    expectServed(client);
}

TEST_F(NetworkRequests, ABinaryRequestGetsABinaryAnswerAndTheNextTextRequestAText) {
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.sendBinary(requestFor("pausePrint")));
    std::optional<WsMessage> answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->binary);
    EXPECT_EQ(answer->text, kPausePrintAnswer);

    ASSERT_TRUE(client.sendText(requestFor("pausePrint")));
    answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->binary);
    EXPECT_EQ(answer->text, kPausePrintAnswer);
}

// Frames are what a WebSocket client library hides, so this client speaks the protocol by hand.
TEST_F(NetworkRequests, AnAnswerOver4096BytesArrivesWholeInSeveralFrames) {
    kvtest::RawTcpClient raw;
    ASSERT_TRUE(raw.connect());
    ASSERT_TRUE(raw.write("GET /any/path HTTP/1.1\r\nHost: 127.0.0.1:37989\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n"));
    const std::string head = raw.readUntil("\r\n\r\n");
    ASSERT_EQ(head.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos) << head;

    const std::string name(6000, 'n');
    const std::string payload = requestFor(name);
    std::string frame = {'\x81', static_cast<char>(0x80 | 126), static_cast<char>(payload.size() >> 8),
                         static_cast<char>(payload.size() & 0xff)};
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(mask, 4);
    for (size_t i = 0; i < payload.size(); ++i) frame += static_cast<char>(payload[i] ^ mask[i % 4]);
    ASSERT_TRUE(raw.write(frame));

    std::string message;
    std::vector<int> opcodes;
    bool fin = false;
    while (!fin) {
        const std::string header = raw.readExactly(2);
        ASSERT_EQ(header.size(), 2u) << "after " << opcodes.size() << " frames";
        fin = (header[0] & 0x80) != 0;
        opcodes.push_back(header[0] & 0x0f);
        ASSERT_EQ(header[1] & 0x80, 0) << "a server does not mask";
        uint64_t length = static_cast<uint8_t>(header[1]) & 0x7f;
        if (length >= 126) {
            const std::string extended = raw.readExactly(length == 126 ? 2 : 8);
            length = 0;
            for (char c : extended) length = (length << 8) | static_cast<uint8_t>(c);
        }
        message += raw.readExactly(length);
    }
    EXPECT_EQ(message, noInterfaceAnswer(name));
    ASSERT_GE(opcodes.size(), 2u);
    EXPECT_EQ(opcodes.front(), 1) << "a text message";
    for (size_t i = 1; i < opcodes.size(); ++i) EXPECT_EQ(opcodes[i], 0) << "continuation frame " << i;
}

TEST_F(NetworkRequests, MalformedUpgradeRequestsGetTheLibrarysAnswerAndTheListenerGoesOn) {
    const struct {
        const char* request;
        const char* status;
    } rows[] = {
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 400 Bad Request\r\n"},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 8\r\n\r\n",
         "HTTP/1.1 426 Upgrade Required\r\n"},
    };
    for (const auto& row : rows) {
        kvtest::RawTcpClient raw;
        ASSERT_TRUE(raw.connect());
        ASSERT_TRUE(raw.write(row.request));
        const std::string answer = raw.readUntil("\r\n\r\n");
        EXPECT_EQ(answer.rfind(row.status, 0), 0u) << answer;
    }
    EXPECT_TRUE(service().waitForStderr("[ERROR]:websocket accept failed, err is "));
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    expectServed(client);
    EXPECT_EQ(service().stderrText().find("websocket async read error is"), std::string::npos)
        << "a client that never completed the handshake is no disconnect";
}

TEST_F(NetworkRequests, AClientThatDropsBeforeTheHandshakeDoesNotStopTheListener) {
    for (int i = 0; i < 3; ++i) {
        kvtest::RawTcpClient raw;
        ASSERT_TRUE(raw.connect());
        raw.close();
    }
    {
        kvtest::RawTcpClient halfway;
        ASSERT_TRUE(halfway.connect());
        ASSERT_TRUE(halfway.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    }
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    expectServed(client);
    EXPECT_EQ(service().stderrText().find("websocket async read error is"), std::string::npos);
}

TEST_F(NetworkRequests, AMessageOfExactly16MiBIsReadAndOneByteMoreClosesTheConnection) {
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    // Not JSON, so it gets no answer; that the connection still serves shows it was read.
    ASSERT_TRUE(client.sendText(std::string(kMessageLimit, 'x'), 60s));
    EXPECT_TRUE(service().waitForStderr("} receive msg is xxxxxxxx", 60s));
    expectServed(client);

    ASSERT_TRUE(client.sendText(std::string(kMessageLimit + 1, 'x'), 60s));
    EXPECT_FALSE(client.receive(60s));
    EXPECT_EQ(client.lastError(), boost::beast::websocket::error::closed) << client.lastError().message();
    EXPECT_EQ(client.closeReason().code, boost::beast::websocket::close_code::too_big);
    EXPECT_TRUE(service().waitForStderr("[ERROR]:websocket async read error is "));

    WsTestClient next;
    ASSERT_TRUE(next.connect());
    expectServed(next);
}

TEST_F(NetworkRequests, InvalidUtf8InATextMessageClosesTheConnection) {
    WsTestClient client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.sendText("{\"apiName\":\"\xff\xfe\"}"));
    EXPECT_FALSE(client.receive());
    EXPECT_EQ(client.lastError(), boost::beast::websocket::error::closed) << client.lastError().message();
    EXPECT_TRUE(service().waitForStderr("[ERROR]:websocket async read error is "));

    // Binary messages are not checked: these bytes are only a request that is not JSON.
    WsTestClient next;
    ASSERT_TRUE(next.connect());
    ASSERT_TRUE(next.sendBinary("\xff\xfe{"));
    EXPECT_TRUE(next.expectNothing(300ms));
    EXPECT_TRUE(next.isOpen());
    expectServed(next);
}

TEST_F(NetworkRequests, AClientThatStopsReadingDoesNotHoldUpOthers) {
    WsTestClient stalled;
    ASSERT_TRUE(stalled.connect());
    // Answers of about 1 MB each, which this client never reads.
    const std::string bigName(1 << 20, 'b');
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(stalled.sendText(requestFor(bigName), 60s));

    WsTestClient other;
    ASSERT_TRUE(other.connect());
    expectServed(other);
    stalled.drop();
    expectServed(other);
}

TEST_F(NetworkRequests, AtTheDescriptorLimitTheListenerWaitsBetweenAcceptsAndServesOnceSomeAreFree) {
    // UndefinedBehaviorSanitizer reads memory through a pipe of its own for its type checks; with
    // no descriptor left it takes every object for a wrong one.
    if (std::string(KV_SANITIZE).find("undefined") != std::string::npos) GTEST_SKIP() << "no descriptor for the sanitizer";
    // A few descriptors above what the service has open now, then more clients than that.
    const int open = kvtest::openDescriptors(service().pid());
    ASSERT_GT(open, 0);
    const rlimit tight{static_cast<rlim_t>(open + 3), static_cast<rlim_t>(open + 3)};
    ASSERT_EQ(prlimit(service().pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
    std::vector<std::unique_ptr<kvtest::RawTcpClient>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<kvtest::RawTcpClient>());
        ASSERT_TRUE(clients.back()->connect());
    }
    ASSERT_TRUE(service().waitForStderr("acceptor async_accept failed, err is Too many open files"));
    std::this_thread::sleep_for(1500ms);
    // It used to try again at once: hundreds of thousands of lines a minute and a busy core.
    const std::string log = service().stderrText();
    size_t failures = 0;
    for (size_t at = log.find("async_accept failed"); at != std::string::npos; at = log.find("async_accept failed", at + 1)) {
        ++failures;
    }
    EXPECT_LE(failures, 8u) << "one line per wait of 100 ms, 200 ms, ... up to 1 s";

    clients.clear();
    WsTestClient client;
    ASSERT_TRUE(client.connect(kvtest::kServicePort, 30s)) << client.lastError().message();
    expectServed(client);
}

}  // namespace
