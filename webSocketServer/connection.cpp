#include "webSocketServer/connection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <glog/logging.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <utility>

#include "platform/platform.h"
#include "unit/log/log.h"
#include "webSocketServer/connectionRegistry.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {

// Closed once at shutdown; guards every post from another thread (a send, a returned queue
// share) so that no thread posts onto a loop that is being destroyed.
struct SendGate {
    std::mutex mutex;
    bool open = true;
};

SendGate& sendGate() {
    static SendGate gate;
    return gate;
}

// A connection has ended (network thread): a second later, what the connections that ended by then
// held is given back to the system. The allocator would keep it, so that thousands of connections
// which came and went would leave the service as large as they made it.
void returnMemoryOfEndedConnections(net::io_context& ioc) {
    static std::atomic<bool> scheduled{false};
    if (scheduled.exchange(true)) return;
    auto timer = std::make_shared<net::steady_timer>(ioc, std::chrono::seconds(1));
    timer->async_wait([timer](boost::system::error_code ec) {
        scheduled.store(false);
        if (!ec) platform::releaseFreeMemory();
    });
}

}  // namespace

// ---- the share of the request queue ------------------------------------------------------------

QueueShare::QueueShare(std::weak_ptr<Connection> owner, std::size_t bytes) : owner(std::move(owner)), bytes(bytes) {}

QueueShare::QueueShare(QueueShare&& other) noexcept
    : owner(std::move(other.owner)), bytes(std::exchange(other.bytes, 0)) {}

QueueShare& QueueShare::operator=(QueueShare&& other) noexcept {
    if (this != &other) {
        giveBack();
        owner = std::move(other.owner);
        bytes = std::exchange(other.bytes, 0);
    }
    return *this;
}

QueueShare::~QueueShare() {
    giveBack();
}

void QueueShare::giveBack() {
    if (owner.expired()) return;
    Connection::giveBackShare(owner, bytes);
    owner.reset();
    bytes = 0;
}

// ---- the connection ----------------------------------------------------------------------------

Connection::Connection(net::io_context& context, ConnectionHooks hooks, ConnectionSettings settings)
    : strand(net::make_strand(context)),
      ws(std::make_unique<Stream>(strand)),
      ioc(context),
      hooks(std::move(hooks)),
      settings(settings) {
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

std::size_t Connection::readBufferCapacity() const {
    return readBuffer.capacity();
}

void Connection::start() {
    // A message goes out as several frames, each its own write, and an event often follows an
    // answer at once: with Nagle's algorithm each such write would wait for the client's delayed
    // acknowledgement of the one before. A failure only costs that wait.
    boost::system::error_code ignored;
    getSocket().set_option(net::ip::tcp::no_delay(true), ignored);
    // The listener's completion runs outside this connection's strand; the handshake starts on it.
    net::dispatch(strand, [self = shared_from_this()] {
        // Nothing may hold a socket for ever: the opening and closing handshakes are bounded, and
        // an idle peer is pinged, so only one that has vanished is dropped.
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = self->settings.handshakeTimeout;
        timeouts.idle_timeout = self->settings.idleTimeout;
        timeouts.keep_alive_pings = true;
        self->ws->set_option(timeouts);
        self->ws->async_accept(beast::bind_front_handler(&Connection::onAccept, self));
    });
}

void Connection::onAccept(boost::system::error_code ec) {
    try {
        if (ec) {
            LOG(ERROR) << "[ERROR]:" << "websocket accept failed, err is " << ec.what();
            returnMemoryOfEndedConnections(ioc);
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
            if (closedHere) return;
            LOG(ERROR) << "[ERROR]:" << "websocket async read error is " << ec.what();
            end();
            return;
        }
        // Answers and events follow the frame type of the client's last message.
        ws->binary(ws->got_binary());
        std::string message = beast::buffers_to_string(readBuffer.data());
        readBuffer.consume(readBuffer.size());
        // The room a large message needed is not kept for the life of the connection.
        if (readBuffer.capacity() > settings.keptReadBufferBytes) readBuffer.shrink_to_fit();
        LOG(INFO) << "[INFO]:" << "websocket{UUID:" << uuid << "} receive msg is " << keptInLog(message);
        queuedBytes += message.size();
        ++queuedRequests;
        QueueShare share(weak_from_this(), message.size());
        if (hooks.messageArrived) hooks.messageArrived(uuid, std::move(message), std::move(share));
        // Backpressure: while this client has its fill waiting, its messages wait in TCP.
        if (queueAllowanceUsed()) {
            readPaused = true;
        } else {
            doRead();
        }
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "exception is " << e.what();
        ConnectionRegistry::getInstance().removeConnection(uuid);
    }
}

bool Connection::queueAllowanceUsed() const {
    return queuedBytes >= settings.maxQueuedBytes || queuedRequests >= settings.maxQueuedRequests;
}

void Connection::giveBackShare(const std::weak_ptr<Connection>& owner, std::size_t bytes) {
    SendGate& gate = sendGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    if (!gate.open) return;
    std::shared_ptr<Connection> connection = owner.lock();
    if (!connection) return;
    // The posted handler holds the only new reference, so the connection is never released on
    // this thread.
    const Strand target = connection->strand;
    net::post(target, [connection = std::move(connection), bytes] { connection->onShareReturned(bytes); });
}

void Connection::onShareReturned(std::size_t bytes) {
    queuedBytes -= bytes;
    --queuedRequests;
    if (readPaused && !closedHere && !queueAllowanceUsed()) {
        readPaused = false;
        doRead();
    }
}

void Connection::end() {
    if (ended) return;
    ended = true;
    ConnectionRegistry::getInstance().removeConnection(uuid);
    if (hooks.connectionEnded) hooks.connectionEnded(uuid);
    returnMemoryOfEndedConnections(ioc);
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
    if (closedHere) return;
    const std::size_t waiting = sendQueue.size();
    unsentBytes += text.size();
    sendQueue.push_back(std::move(text));
    if (unsentBytes > settings.maxUnsentBytes) {
        closeForUnsentBytes(waiting > 0);
        return;
    }
    if (waiting == 0) {
        doWrite();
    } else {
        LOG(INFO) << "[INFO]:" << "待发送任务数: " << waiting;
    }
}

void Connection::doWrite() {
    const std::string& text = sendQueue.front();
    LOG(INFO) << "[INFO]:" << "websocket async send msg is: " << keptInLog(text);
    // The text stays at the front of the queue, unchanged, until the write completes.
    ws->async_write(net::buffer(text), beast::bind_front_handler(&Connection::onWrite, shared_from_this()));
}

void Connection::onWrite(boost::system::error_code ec, std::size_t /*bytes*/) {
    try {
        if (ec) {
            if (closedHere) return;
            // The failed text stays queued and nothing more is written on this connection.
            LOG(ERROR) << "[ERROR]:" << "async send err is " << ec.what();
            ConnectionRegistry::getInstance().removeConnection(uuid);
            return;
        }
        unsentBytes -= sendQueue.front().size();
        sendQueue.pop_front();
        if (!sendQueue.empty()) doWrite();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "async send exception is " << e.what();
        ConnectionRegistry::getInstance().removeConnection(uuid);
    }
}

void Connection::closeForUnsentBytes(bool writeInFlight) {
    LOG(ERROR) << "[ERROR]:" << "websocket{UUID:" << uuid << "} leaves more than " << settings.maxUnsentBytes
               << " bytes unread, connection closed";
    closedHere = true;
    // The text being written is read by that write until it completes; the others go now.
    const std::size_t kept = writeInFlight ? 1 : 0;
    while (sendQueue.size() > kept) {
        unsentBytes -= sendQueue.back().size();
        sendQueue.pop_back();
    }
    beast::get_lowest_layer(*ws).close();
    end();
}
