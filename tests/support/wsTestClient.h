// A synchronous WebSocket client for tests, with a deadline on every step.
//
//     kvtest::WsTestClient client;
//     ASSERT_TRUE(client.connect());                        // 127.0.0.1:37989, handshake done
//     ASSERT_TRUE(client.sendText(R"({"apiName":"pausePrint"})"));
//     std::optional<kvtest::WsMessage> answer = client.receive();   // nullopt: nothing in time
//     EXPECT_TRUE(client.expectNothing(std::chrono::milliseconds(300)));
//     client.close();                                       // clean close handshake
//
// A read that runs into its deadline stays pending, so a later receive() still gets the message
// that was on its way; nothing is lost between calls. When the connection has ended, receive()
// returns nullopt at once and lastError() tells why (for example websocket::error::closed when
// the service closed it, with closeReason() holding the code it sent).
//
// RawTcpClient is a plain TCP connection for what a WebSocket client cannot send: malformed
// upgrade requests, a client that never completes the handshake, frames built by hand.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <optional>
#include <string>

namespace kvtest {

constexpr unsigned short kServicePort = 37989;
constexpr std::chrono::milliseconds kDefaultDeadline{10000};

struct WsMessage {
    std::string text;
    bool binary = false;
};

class WsTestClient {
public:
    WsTestClient();
    ~WsTestClient();  // drops the TCP connection without a close handshake
    WsTestClient(const WsTestClient&) = delete;
    WsTestClient& operator=(const WsTestClient&) = delete;

    // Connects to 127.0.0.1:port and completes the WebSocket handshake.
    bool connect(unsigned short port = kServicePort, std::chrono::milliseconds deadline = kDefaultDeadline);
    // The server's answer to the upgrade request (status 101 after a successful connect).
    const boost::beast::http::response<boost::beast::http::string_body>& handshakeResponse() const;

    // Each sends one whole message; false when it could not be written in time.
    bool sendText(const std::string& text, std::chrono::milliseconds deadline = kDefaultDeadline);
    bool sendBinary(const std::string& bytes, std::chrono::milliseconds deadline = kDefaultDeadline);

    // The next whole message, or nullopt when none arrived before the deadline or the
    // connection ended.
    std::optional<WsMessage> receive(std::chrono::milliseconds deadline = kDefaultDeadline);
    // True when no message arrives and the connection stays open for the whole time.
    bool expectNothing(std::chrono::milliseconds within);

    // Clean close: sends a close frame and waits for the service's.
    bool close(std::chrono::milliseconds deadline = kDefaultDeadline);
    // Ends the TCP connection at once (a reset), without a close frame.
    void drop();

    // False once the connection has ended (closed, dropped or failed).
    bool isOpen() const;
    // The error that ended the last failed step.
    boost::system::error_code lastError() const { return lastError_; }
    // The close frame the service sent, when it closed the connection.
    boost::beast::websocket::close_reason closeReason() const;

private:
    bool send(const std::string& bytes, bool binary, std::chrono::milliseconds deadline);
    // Runs the client's event loop until done is set or the deadline passes.
    bool runUntil(const bool& done, std::chrono::milliseconds deadline);
    void startRead();

    boost::asio::io_context ioc_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    boost::beast::http::response<boost::beast::http::string_body> handshake_;
    boost::beast::flat_buffer readBuffer_;
    bool readPending_ = false;
    bool readDone_ = false;
    boost::system::error_code readError_;
    bool ended_ = true;
    boost::system::error_code lastError_;
};

class RawTcpClient {
public:
    RawTcpClient() = default;
    ~RawTcpClient();
    RawTcpClient(const RawTcpClient&) = delete;
    RawTcpClient& operator=(const RawTcpClient&) = delete;

    bool connect(unsigned short port = kServicePort);
    bool write(const std::string& bytes);
    // Whatever arrives before the deadline, up to the peer's close; closedByPeer() tells which.
    std::string readUntilClosed(std::chrono::milliseconds deadline = kDefaultDeadline);
    // Reads until the text has arrived (returned with everything before it) or the deadline.
    std::string readUntil(const std::string& marker, std::chrono::milliseconds deadline = kDefaultDeadline);
    // Exactly count bytes, or fewer when the deadline passes or the peer closes.
    std::string readExactly(size_t count, std::chrono::milliseconds deadline = kDefaultDeadline);
    bool closedByPeer() const { return closedByPeer_; }
    void close();
    // Ends its side of TCP (a FIN) and keeps the connection, reading nothing.
    void shutdownWrite();

private:
    // Reads what is available within the deadline into pending_; false on timeout or close.
    bool readMore(std::chrono::steady_clock::time_point until);

    int fd_ = -1;
    std::string pending_;
    bool closedByPeer_ = false;
};

}  // namespace kvtest
