#include "webSocketServer/connection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <glog/logging.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

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

// What all connections together hold: the text of their requests waiting in the queue and the
// answers not yet written to them.
struct Totals {
    // The requests waiting in the queue and the messages being read, and how many requests.
    std::atomic<std::size_t> queuedBytes{0};
    std::atomic<std::size_t> queuedRequests{0};
    std::atomic<std::size_t> unsentBytes{0};
    // Connections not read because the total was reached, each with the total below which it may
    // read again.
    std::mutex waitingMutex;
    std::vector<std::pair<std::weak_ptr<Connection>, std::size_t>> waiting;
    std::atomic<std::size_t> waitingCount{0};
    // When no request waits, messages held half read are all that the total holds, and none would
    // ever leave: one of those connections at a time may then read its message to the end.
    const Connection* finisher = nullptr;
};

Totals& totals() {
    static Totals all;
    return all;
}

// The error of a socket that has failed (a reset), or end of file when the peer has closed its
// end; nothing when the socket is well. Reads no byte, so what the peer sent before stays.
boost::system::error_code socketFailure(int fd) {
    pollfd polled{fd, POLLRDHUP, 0};
    if (::poll(&polled, 1, 0) <= 0 || (polled.revents & (POLLERR | POLLHUP | POLLRDHUP)) == 0) return {};
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) {
        return {error, boost::system::system_category()};
    }
    return net::error::eof;
}

// Whether the peer has sent bytes that wait unread; reads none.
bool hasBytesWaiting(int fd) {
    if (fd < 0) return false;
    pollfd polled{fd, POLLIN, 0};
    return ::poll(&polled, 1, 0) > 0 && (polled.revents & POLLIN) != 0;
}

// How often a connection that is not read looks whether its peer has gone.
constexpr std::chrono::milliseconds kPausedCheckPeriod{100};
// How long one connection may read its message past the total's mark before the next one may,
// and how long it keeps that turn while nothing more comes: a peer that stops sending in the
// middle of its message keeps the others waiting no longer.
constexpr std::chrono::milliseconds kFinishTurn{1000};
constexpr std::chrono::milliseconds kFinishTurnIdle{100};

// A message is read a piece at a time, so that what it has brought counts among its client's
// waiting bytes while it is read, and reading can pause within it.
constexpr std::size_t kReadPieceBytes = 64u << 10;

}  // namespace

// ---- the share of the request queue ------------------------------------------------------------

QueueShare::QueueShare(std::weak_ptr<Connection> owner, std::size_t bytes)
    : owner(std::move(owner)), bytes(bytes), held(true) {}

QueueShare::QueueShare(QueueShare&& other) noexcept
    : owner(std::move(other.owner)), bytes(std::exchange(other.bytes, 0)), held(std::exchange(other.held, false)) {}

QueueShare& QueueShare::operator=(QueueShare&& other) noexcept {
    if (this != &other) {
        giveBack();
        owner = std::move(other.owner);
        bytes = std::exchange(other.bytes, 0);
        held = std::exchange(other.held, false);
    }
    return *this;
}

QueueShare::~QueueShare() {
    giveBack();
}

void QueueShare::giveBack() {
    if (!held) return;
    held = false;
    // The total is given back also when the connection is gone.
    totals().queuedBytes -= bytes;
    --totals().queuedRequests;
    if (!owner.expired()) Connection::giveBackShare(owner, bytes);
    owner.reset();
    bytes = 0;
    Connection::roomMade();
}

// ---- the connection ----------------------------------------------------------------------------

Connection::Connection(net::io_context& context, ConnectionHooks hooks, ConnectionSettings settings)
    : strand(net::make_strand(context)),
      ws(std::make_unique<Stream>(strand)),
      ioc(context),
      hooks(std::move(hooks)),
      settings(settings),
      pausedCheck(strand),
      finishDeadline(strand),
      closeDeadline(strand) {
    // A write after the handshake while the WebSocket no longer is open is its close frame. Both
    // are told while the read that found the end runs, on the strand.
    ws->next_layer().writing = [this] {
        if (opened && !ws->is_open()) onClosing();
    };
    ws->control_callback([this](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::close) onClosing();
    });
    // A generator of its own for each id: it reads the system's random source directly.
    boost::uuids::random_generator generator;
    uuid = boost::uuids::to_string(generator());
    LOG(INFO) << "[INFO]:" << "current custom id: " << uuid;
}

Connection::~Connection() {
    // Texts that a failed write left behind count no more, nor a message not read to its end,
    // whose room goes to the others.
    totals().unsentBytes -= unsentBytes.load();
    totals().queuedBytes -= readingBytes;
    stopFinishing();
    if (readingBytes > 0) roomMade();
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
        self->setIdleTimeout(self->settings.idleTimeout);
        self->ws->async_accept(beast::bind_front_handler(&Connection::onAccept, self));
    });
}

void Connection::setIdleTimeout(std::chrono::milliseconds idle) {
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = settings.handshakeTimeout;
    timeouts.idle_timeout = idle.count() > 0 ? idle : websocket::stream_base::none();
    timeouts.keep_alive_pings = true;
    ws->set_option(timeouts);
}

void Connection::onAccept(boost::system::error_code ec) {
    try {
        if (ec) {
            LOG(ERROR) << "[ERROR]:" << "websocket accept failed, err is " << ec.what();
            if (hooks.memoryReleased) hooks.memoryReleased();
            return;
        }
        opened = true;
        socketFd = getSocket().native_handle();
        ConnectionRegistry::getInstance().addConnection(shared_from_this());
        doRead();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "websocket async accept exception is " << e.what();
    }
}

void Connection::doRead() {
    // Below a little, a read takes a client no further than a little: those that hold little are
    // read whatever the total, so that each may hold no more.
    const std::size_t piece = queuedBytes < settings.littleBytes ? settings.littleBytes - queuedBytes : kReadPieceBytes;
    ws->async_read_some(readBuffer, piece, beast::bind_front_handler(&Connection::onRead, shared_from_this()));
}

void Connection::onRead(boost::system::error_code ec, std::size_t bytes) {
    try {
        if (ec) {
            if (closedHere) return;
            LOG(ERROR) << "[ERROR]:" << "websocket async read error is " << ec.what();
            end();
            return;
        }
        // A message counts among the waiting bytes from its first piece on.
        if (readingBytes == 0) messageBegun = std::chrono::steady_clock::now();
        readingBytes += bytes;
        queuedBytes += bytes;
        totals().queuedBytes += bytes;
        if (mayFinish && bytes > 0) extendFinishTurn();
        if (ws->is_message_done()) handOver();
        // Backpressure: while this client has its fill waiting, its messages wait in TCP.
        if (queueAllowanceUsed()) {
            pauseReading();
        } else {
            doRead();
        }
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "exception is " << e.what();
        failed();
    }
}

void Connection::handOver() {
    // Answers and events follow the frame type of the client's last message.
    ws->binary(ws->got_binary());
    std::string message = beast::buffers_to_string(readBuffer.data());
    readBuffer.consume(readBuffer.size());
    // The room a large message needed is not kept for the life of the connection.
    if (readBuffer.capacity() > settings.keptReadBufferBytes) readBuffer.shrink_to_fit();
    LOG(INFO) << "[INFO]:" << "websocket{UUID:" << uuid << "} receive msg is " << keptInLog(message);
    ++queuedRequests;
    ++totals().queuedRequests;
    QueueShare share(weak_from_this(), std::exchange(readingBytes, 0));
    if (hooks.messageArrived) hooks.messageArrived(uuid, std::move(message), std::move(share), messageBegun);
    // A request waits now, whose leaving the queue wakes the others.
    stopFinishing();
}

bool Connection::ownAllowanceUsed() const {
    return queuedBytes >= settings.maxQueuedBytes || queuedRequests >= settings.maxQueuedRequests;
}

bool Connection::queueAllowanceUsed() const {
    // When all clients together have their fill waiting, those with more than a little yield.
    return ownAllowanceUsed() || (!mayFinish && queuedBytes >= settings.littleBytes &&
                                  totals().queuedBytes.load() >= settings.maxTotalQueuedBytes);
}

void Connection::waitForRoomInTotal() {
    if (waitingForRoom) return;
    waitingForRoom = true;
    Totals& all = totals();
    {
        std::lock_guard<std::mutex> lock(all.waitingMutex);
        all.waiting.emplace_back(weak_from_this(), settings.maxTotalQueuedBytes);
        ++all.waitingCount;
    }
    // Room made while this was not yet on the list is not missed.
    roomMade();
}

void Connection::roomMade() {
    Totals& all = totals();
    if (all.waitingCount.load() == 0) return;
    std::vector<std::shared_ptr<Connection>> woken;
    std::shared_ptr<Connection> finisher;
    {
        std::lock_guard<std::mutex> lock(all.waitingMutex);
        const std::size_t total = all.queuedBytes.load();
        decltype(all.waiting) still;
        for (auto& entry : all.waiting) {
            if (total >= entry.second) {
                still.push_back(std::move(entry));
            } else if (std::shared_ptr<Connection> connection = entry.first.lock()) {
                woken.push_back(std::move(connection));
            }
        }
        all.waiting.swap(still);
        if (woken.empty() && all.queuedRequests.load() == 0 && all.finisher == nullptr) {
            // The first in line whose peer has sent more: one that stopped sending in the middle
            // of its message would finish nothing.
            for (auto entry = all.waiting.begin(); entry != all.waiting.end() && !finisher;) {
                std::shared_ptr<Connection> candidate = entry->first.lock();
                if (!candidate) {
                    entry = all.waiting.erase(entry);
                } else if (hasBytesWaiting(candidate->socketFd.load())) {
                    finisher = std::move(candidate);
                    entry = all.waiting.erase(entry);
                } else {
                    ++entry;
                }
            }
            all.finisher = finisher.get();
        }
        all.waitingCount = all.waiting.size();
    }
    SendGate& gate = sendGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    if (!gate.open) return;
    for (std::shared_ptr<Connection>& connection : woken) {
        const Strand target = connection->strand;
        net::post(target, [connection = std::move(connection)] { connection->onRoomInTotal(false); });
    }
    if (finisher) {
        const Strand target = finisher->strand;
        net::post(target, [finisher = std::move(finisher)] { finisher->onRoomInTotal(true); });
    }
}

void Connection::onRoomInTotal(bool finish) {
    // Whoever is told has been taken off the list.
    waitingForRoom = false;
    // Told after it could no longer use it (it has gone, or is held back by its own bounds, or
    // has no message begun): the room, or the right to finish, passes on to the others.
    if (finish) mayFinish = true;
    if (closedHere || ended || ownAllowanceUsed() || (finish && readingBytes == 0)) {
        if (mayFinish) {
            stopFinishing();
        } else {
            roomMade();
        }
        return;
    }
    if (finish) {
        ++finishTurns;
        finishTurnEnd = std::chrono::steady_clock::now() + kFinishTurn;
        extendFinishTurn();
    }
    if (!readPaused) return;
    if (!queueAllowanceUsed()) {
        resumeReading();
    } else {
        waitForRoomInTotal();
    }
}

void Connection::extendFinishTurn() {
    const unsigned turn = finishTurns;
    finishDeadline.expires_at(std::min(std::chrono::steady_clock::now() + kFinishTurnIdle, finishTurnEnd));
    finishDeadline.async_wait([self = shared_from_this(), turn](boost::system::error_code ec) {
        // Its turn is over: the next one waiting may finish, and this one waits again.
        if (!ec && turn == self->finishTurns) self->stopFinishing();
    });
}

void Connection::stopFinishing() {
    if (!mayFinish) return;
    mayFinish = false;
    ++finishTurns;
    {
        Totals& all = totals();
        std::lock_guard<std::mutex> lock(all.waitingMutex);
        if (all.finisher == this) all.finisher = nullptr;
    }
    roomMade();
}

void Connection::pauseReading() {
    readPaused = true;
    // Held back by the others' requests, not by its own: the worker taking one of its own would
    // not tell it when there is room again.
    if (!ownAllowanceUsed()) waitForRoomInTotal();
    // Beast sees the peer's pongs only while reading, so the idle timer would drop a peer that is
    // alive; the timer starts again with the next read.
    setIdleTimeout(std::chrono::milliseconds{0});
    if (!pausedCheckPending) checkPausedSocket();
}

void Connection::resumeReading() {
    readPaused = false;
    setIdleTimeout(settings.idleTimeout);
    doRead();
}

void Connection::checkPausedSocket() {
    // With no read pending, nothing else would notice that the peer reset or closed its end; the
    // socket is looked at a few times a second while reading waits (asio waits on no peer close).
    pausedCheckPending = true;
    pausedCheck.expires_after(kPausedCheckPeriod);
    pausedCheck.async_wait([self = shared_from_this()](boost::system::error_code ec) {
        self->pausedCheckPending = false;
        if (ec || !self->readPaused || self->closedHere || self->ended) return;
        const int fd = self->getSocket().native_handle();
        const boost::system::error_code failure = socketFailure(fd);
        if (!failure) {
            // More has come while only half-read messages hold the total: this one may be the
            // one to finish its message.
            if (self->waitingForRoom && totals().queuedRequests.load() == 0 && hasBytesWaiting(fd)) roomMade();
            self->checkPausedSocket();
            return;
        }
        // The read that is not pending would have failed with this. What the peer sent and was
        // not read is given up, as when a reset throws it away.
        LOG(ERROR) << "[ERROR]:" << "websocket async read error is " << failure.what();
        self->endAndClose();
    });
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
    if (readPaused && !closedHere && !ended && !queueAllowanceUsed()) resumeReading();
}

void Connection::end() {
    if (ended) return;
    ended = true;
    stopFinishing();
    ConnectionRegistry::getInstance().removeConnection(uuid);
    if (hooks.connectionEnded) hooks.connectionEnded(uuid);
    if (hooks.memoryReleased) hooks.memoryReleased();
}

void Connection::onClosing() {
    if (closing) return;
    closing = true;
    // The client has gone with the first close frame, before any message that another client
    // sends after it. The read ends only once the peer has ended TCP too, and Beast bounds that
    // wait by no timer after a failed read; an answering close frame may wait behind answers that
    // the peer does not read. So the socket goes within the handshake's time whatever the peer does.
    end();
    closeDeadline.expires_after(settings.handshakeTimeout);
    closeDeadline.async_wait([weak = weak_from_this()](boost::system::error_code ec) {
        const std::shared_ptr<Connection> self = weak.lock();
        if (ec || !self) return;
        boost::system::error_code ignored;
        self->getSocket().close(ignored);
    });
}

void Connection::failed() {
    // A read that is pending notices the end itself; a paused one would never be there to.
    if (readPaused) {
        endAndClose();
    } else {
        end();
    }
}

void Connection::endAndClose() {
    closedHere = true;
    socketFd = -1;
    boost::system::error_code ignored;
    getSocket().close(ignored);
    end();
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
    const std::size_t size = text.size();
    unsentBytes += size;
    const std::size_t total = totals().unsentBytes += size;
    sendQueue.push_back(std::move(text));
    if (unsentBytes.load() > settings.maxUnsentBytes) {
        closeForUnsentBytes("leaves more than " + std::to_string(settings.maxUnsentBytes) + " bytes unread");
        return;
    }
    if (waiting == 0) {
        doWrite();
    } else {
        LOG(INFO) << "[INFO]:" << "待发送任务数: " << waiting;
    }
    if (total > settings.maxTotalUnsentBytes) closeLargestUnsent();
}

void Connection::closeLargestUnsent() {
    std::shared_ptr<Connection> largest;
    std::size_t most = settings.littleBytes;
    for (const std::shared_ptr<Connection>& connection : ConnectionRegistry::getInstance().allConnections()) {
        const std::size_t unsent = connection->unsentBytes.load();
        if (unsent > most) {
            most = unsent;
            largest = connection;
        }
    }
    if (!largest) return;
    const std::string why = "leaves the most unread while all clients together leave more than " +
                            std::to_string(settings.maxTotalUnsentBytes) + " bytes";
    if (largest.get() == this) {
        closeForUnsentBytes(why);
        return;
    }
    net::post(largest->strand, [largest, why] {
        if (totals().unsentBytes.load() > largest->settings.maxTotalUnsentBytes &&
            largest->unsentBytes.load() > largest->settings.littleBytes) {
            largest->closeForUnsentBytes(why);
        }
    });
}

void Connection::doWrite() {
    const std::string& text = sendQueue.front();
    LOG(INFO) << "[INFO]:" << "websocket async send msg is: " << keptInLog(text);
    // The text stays at the front of the queue, unchanged, until the write completes.
    writing = true;
    ws->async_write(net::buffer(text), beast::bind_front_handler(&Connection::onWrite, shared_from_this()));
}

void Connection::onWrite(boost::system::error_code ec, std::size_t /*bytes*/) {
    try {
        if (ec) {
            if (closedHere) return;
            // The failed text stays queued and nothing more is written on this connection.
            LOG(ERROR) << "[ERROR]:" << "async send err is " << ec.what();
            writing = false;
            failed();
            return;
        }
        writing = false;
        unsentBytes -= sendQueue.front().size();
        totals().unsentBytes -= sendQueue.front().size();
        sendQueue.pop_front();
        if (!sendQueue.empty()) doWrite();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "async send exception is " << e.what();
        failed();
    }
}

void Connection::closeForUnsentBytes(const std::string& why) {
    if (closedHere) return;
    LOG(ERROR) << "[ERROR]:" << "websocket{UUID:" << uuid << "} " << why << ", connection closed";
    // The text being written is read by that write until it completes; the others go now.
    const std::size_t kept = writing ? 1 : 0;
    while (sendQueue.size() > kept) {
        unsentBytes -= sendQueue.back().size();
        totals().unsentBytes -= sendQueue.back().size();
        sendQueue.pop_back();
    }
    endAndClose();
}
