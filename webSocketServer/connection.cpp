#include "webSocketServer/connection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <glog/logging.h>

#include <exception>
#include <mutex>
#include <utility>

#include "kvPrinter/printServer.h"
#include "unit/log/log.h"
#include "webSocketServer/connectionRegistry.h"

namespace net = boost::asio;
namespace beast = boost::beast;

namespace {

// Closed once at shutdown; guards the post in send() so that no thread posts onto a loop that is
// being destroyed.
struct SendGate {
    std::mutex mutex;
    bool open = true;
};

SendGate& sendGate() {
    static SendGate gate;
    return gate;
}

}  // namespace

Connection::Connection(net::io_context& context)
    : strand(net::make_strand(context)), ws(std::make_unique<Stream>(strand)), ioc(context) {
    // A generator of its own for each id: it reads the system's random source directly.
    boost::uuids::random_generator generator;
    uuid = boost::uuids::to_string(generator());
    LOG(INFO) << "[INFO]:" << "current custom id: " << uuid;
}

Connection::~Connection() {
    LOG(INFO) << "[INFO]:" << "connection destruction!" << uuid;
}

net::ip::tcp::socket& Connection::getSocket() {
    return beast::get_lowest_layer(*ws).socket();
}

std::string Connection::getUuid() const {
    return uuid;
}

void Connection::start() {
    // A message goes out as several frames, each its own write, and an event often follows an
    // answer at once: with Nagle's algorithm each such write would wait for the client's delayed
    // acknowledgement of the one before. A failure only costs that wait.
    boost::system::error_code ignored;
    getSocket().set_option(net::ip::tcp::no_delay(true), ignored);
    // The listener's completion runs outside this connection's strand; the handshake starts on it.
    net::dispatch(strand, [self = shared_from_this()] {
        self->ws->async_accept(beast::bind_front_handler(&Connection::onAccept, self));
    });
}

void Connection::onAccept(boost::system::error_code ec) {
    try {
        if (ec) {
            LOG(ERROR) << "[ERROR]:" << "websocket accept failed, err is " << ec.what();
            return;
        }
        ConnectionRegistry::getInstance().addConnection(shared_from_this());
        doRead();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "websocket async accept exception is " << e.what();
    }
}

void Connection::doRead() {
    ws->async_read(readBuffer, beast::bind_front_handler(&Connection::onRead, shared_from_this()));
}

void Connection::onRead(boost::system::error_code ec, std::size_t /*bytes*/) {
    try {
        if (ec) {
            LOG(ERROR) << "[ERROR]:" << "websocket async read error is " << ec.what();
            ConnectionRegistry::getInstance().removeConnection(uuid);
            onClientDisconnect();
            return;
        }
        // Answers and events follow the frame type of the client's last message.
        ws->binary(ws->got_binary());
        std::string message = beast::buffers_to_string(readBuffer.data());
        readBuffer.consume(readBuffer.size());
        LOG(INFO) << "[INFO]:" << "websocket{UUID:" << uuid << "} receive msg is " << keptInLog(message);
        pushPrintTask(uuid, std::move(message));
        doRead();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "exception is " << e.what();
        ConnectionRegistry::getInstance().removeConnection(uuid);
    }
}

void Connection::send(std::string text) {
    SendGate& gate = sendGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    if (!gate.open) return;
    net::post(strand, [self = shared_from_this(), text = std::move(text)]() mutable {
        self->queueText(std::move(text));
    });
}

void Connection::stopSending() {
    SendGate& gate = sendGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = false;
}

void Connection::queueText(std::string text) {
    const std::size_t waiting = sendQueue.size();
    sendQueue.push_back(std::move(text));
    if (waiting == 0) {
        doWrite();
    } else {
        LOG(INFO) << "[INFO]:" << "待发送任务数: " << waiting;
    }
}

void Connection::doWrite() {
    const std::string& text = sendQueue.front();
    LOG(INFO) << "[INFO]:" << "websocket async send msg is: " << text;
    // The text stays at the front of the queue, unchanged, until the write completes.
    ws->async_write(net::buffer(text), beast::bind_front_handler(&Connection::onWrite, shared_from_this()));
}

void Connection::onWrite(boost::system::error_code ec, std::size_t /*bytes*/) {
    try {
        if (ec) {
            // The failed text stays queued and nothing more is written on this connection.
            LOG(ERROR) << "[ERROR]:" << "async send err is " << ec.what();
            ConnectionRegistry::getInstance().removeConnection(uuid);
            return;
        }
        sendQueue.pop_front();
        if (!sendQueue.empty()) doWrite();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "async send exception is " << e.what();
        ConnectionRegistry::getInstance().removeConnection(uuid);
    }
}
