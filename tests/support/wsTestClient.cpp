#include "tests/support/wsTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket/error.hpp>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kvtest {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using Clock = std::chrono::steady_clock;

WsTestClient::WsTestClient() : ws_(ioc_) {}

WsTestClient::~WsTestClient() {
    drop();
}

bool WsTestClient::runUntil(const bool& done, std::chrono::milliseconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (!done) {
        if (ioc_.stopped()) ioc_.restart();
        if (ioc_.run_one_until(until) == 0) {
            // Either the deadline passed or there is nothing left that could set the flag.
            if (Clock::now() >= until || ioc_.stopped()) break;
        }
    }
    return done;
}

bool WsTestClient::connect(unsigned short port, std::chrono::milliseconds deadline) {
    const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
    bool done = false;
    beast::get_lowest_layer(ws_).async_connect(endpoint, [&](boost::system::error_code ec) {
        lastError_ = ec;
        done = true;
    });
    if (!runUntil(done, deadline) || lastError_) {
        drop();  // also completes the abandoned operation, which refers to `done`
        return false;
    }
    done = false;
    ws_.async_handshake(handshake_, "127.0.0.1:" + std::to_string(port), "/",
                        [&](boost::system::error_code ec) {
                            lastError_ = ec;
                            done = true;
                        });
    if (!runUntil(done, deadline) || lastError_) {
        drop();  // also completes the abandoned operation, which refers to `done`
        return false;
    }
    ended_ = false;
    return true;
}

const beast::http::response<beast::http::string_body>& WsTestClient::handshakeResponse() const {
    return handshake_;
}

bool WsTestClient::sendText(const std::string& text, std::chrono::milliseconds deadline) {
    return send(text, false, deadline);
}

bool WsTestClient::sendBinary(const std::string& bytes, std::chrono::milliseconds deadline) {
    return send(bytes, true, deadline);
}

bool WsTestClient::send(const std::string& bytes, bool binary, std::chrono::milliseconds deadline) {
    if (ended_) return false;
    ws_.binary(binary);
    bool done = false;
    ws_.async_write(net::buffer(bytes), [&](boost::system::error_code ec, std::size_t) {
        lastError_ = ec;
        done = true;
    });
    if (!runUntil(done, deadline)) {
        // A write still in flight cannot be followed by another: this client is finished.
        drop();
        return false;
    }
    if (lastError_) ended_ = true;
    return !lastError_;
}

void WsTestClient::startRead() {
    readPending_ = true;
    readDone_ = false;
    ws_.async_read(readBuffer_, [this](boost::system::error_code ec, std::size_t) {
        readError_ = ec;
        readDone_ = true;
        readPending_ = false;
    });
}

std::optional<WsMessage> WsTestClient::receive(std::chrono::milliseconds deadline) {
    if (ended_ && !readDone_) return std::nullopt;
    if (!readPending_ && !readDone_) startRead();
    if (!runUntil(readDone_, deadline)) return std::nullopt;
    readDone_ = false;
    if (readError_) {
        lastError_ = readError_;
        ended_ = true;
        return std::nullopt;
    }
    WsMessage message{beast::buffers_to_string(readBuffer_.data()), ws_.got_binary()};
    readBuffer_.consume(readBuffer_.size());
    return message;
}

bool WsTestClient::expectNothing(std::chrono::milliseconds within) {
    if (ended_) return false;
    if (!readPending_ && !readDone_) startRead();
    runUntil(readDone_, within);
    return !readDone_;
}

bool WsTestClient::close(std::chrono::milliseconds deadline) {
    if (ended_) return false;
    bool done = false;
    ws_.async_close(websocket::close_code::normal, [&](boost::system::error_code ec) {
        lastError_ = ec;
        done = true;
    });
    const bool closed = runUntil(done, deadline) && !lastError_;
    ended_ = true;
    // A read left pending completes now, with the close.
    if (readPending_) runUntil(readDone_, std::chrono::milliseconds(1000));
    if (!closed) drop();
    return closed;
}

void WsTestClient::drop() {
    net::ip::tcp::socket& socket = beast::get_lowest_layer(ws_).socket();
    if (socket.is_open()) {
        boost::system::error_code ignored;
        socket.set_option(net::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
    }
    ended_ = true;
    // Let the aborted operations finish so that nothing refers to this client afterwards.
    ioc_.restart();
    ioc_.poll();
}

bool WsTestClient::isOpen() const {
    return !ended_;
}

websocket::close_reason WsTestClient::closeReason() const {
    return ws_.reason();
}

// ---- RawTcpClient ------------------------------------------------------------------------

RawTcpClient::~RawTcpClient() {
    close();
}

bool RawTcpClient::connect(unsigned short port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    closedByPeer_ = false;
    pending_.clear();
    return true;
}

bool RawTcpClient::write(const std::string& bytes) {
    size_t written = 0;
    while (fd_ >= 0 && written < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

bool RawTcpClient::readMore(Clock::time_point until) {
    while (fd_ >= 0 && !closedByPeer_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            closedByPeer_ = true;
            return false;
        }
        pending_.append(chunk, static_cast<size_t>(n));
        return true;
    }
    return false;
}

std::string RawTcpClient::readUntilClosed(std::chrono::milliseconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (readMore(until)) {
    }
    return std::exchange(pending_, std::string());
}

std::string RawTcpClient::readUntil(const std::string& marker, std::chrono::milliseconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    size_t found = pending_.find(marker);
    while (found == std::string::npos && readMore(until)) found = pending_.find(marker);
    if (found == std::string::npos) return std::exchange(pending_, std::string());
    std::string head = pending_.substr(0, found + marker.size());
    pending_.erase(0, found + marker.size());
    return head;
}

std::string RawTcpClient::readExactly(size_t count, std::chrono::milliseconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (pending_.size() < count && readMore(until)) {
    }
    std::string out = pending_.substr(0, std::min(count, pending_.size()));
    pending_.erase(0, out.size());
    return out;
}

void RawTcpClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RawTcpClient::shutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

}  // namespace kvtest
