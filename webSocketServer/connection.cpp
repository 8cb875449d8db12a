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

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/platform.h"
#include "unit/log/log.h"
#include "webSocketServer/connectionRegistry.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {

// How often a connection that waits looks whether its peer has gone.
constexpr std::chrono::milliseconds kPeerWatchPeriod{100};

}  // namespace

Connection::Connection(net::io_context& context, std::shared_ptr<ClientBudget> budget, ConnectionHooks hooks,
                       ConnectionSettings settings)
    : strand(net::make_strand(context)),
      ws(std::make_unique<Stream>(strand)),
      ioc(context),
      budget(std::move(budget)),
      hooks(std::move(hooks)),
      settings(settings),
      peerWatch(strand),
      closeDeadline(strand) {
    ws->read_message_max(settings.messageLimit);
    // The first close frame, either way, ends the client: the peer's when it is read, the
    // service's when it is about to be written (a write while the WebSocket is no longer open).
    // Both are told inside Beast's operations, on the strand.
    ws->next_layer().writing = [this] {
        if (phase == Phase::open && !ws->is_open()) guarded("close frame", "exception is ", [this] { end(Ending::closeFrame); });
    };
    ws->control_callback([this](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::close) guarded("close frame", "exception is ", [this] { end(Ending::closeFrame); });
    });
    // A generator of its own for each id: it reads the system's random source directly.
    boost::uuids::random_generator generator;
    uuid = boost::uuids::to_string(generator());
    LOG(INFO) << "[INFO]:" << "current custom id: " << uuid;
}

Connection::~Connection() {
    LOG(INFO) << "[INFO]:" << "connection destruction!" << uuid;
    if (account == 0) return;
    // Every path gives these back before; should one not have, the budget still hears of it (all
    // of it through the gate, so nothing reaches a loop that is going away).
    try {
        leaveBudget();
        if (unsentBytes > 0) budget->unsent(account, -static_cast<std::ptrdiff_t>(unsentBytes));
        if (!socketClosedTold) budget->socketClosed(account);
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "exception is " << e.what();
    }
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

template <class Handler>
void Connection::guarded(const char* name, const char* exceptionText, Handler&& handler) {
    try {
        if (hooks.enteringHandler) hooks.enteringHandler(name);
        handler();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << exceptionText << e.what();
        try {
            end(Ending::exception);
        } catch (const std::exception& again) {
            LOG(ERROR) << "[ERROR]:" << "exception is " << again.what();
            closeSocket();
        }
    }
}

void Connection::start() {
    // A message goes out as several frames, each its own write, and an event often follows an
    // answer at once: with Nagle's algorithm each such write would wait for the client's delayed
    // acknowledgement of the one before. A failure only costs that wait.
    boost::system::error_code ignored;
    getSocket().set_option(net::ip::tcp::no_delay(true), ignored);
    // The listener's completion runs outside this connection's strand; the handshake starts on it.
    net::dispatch(strand, [self = shared_from_this()] {
        self->guarded("handshake", "websocket async accept exception is ", [&] {
            // Nothing may hold a socket for ever: the opening and closing handshakes are bounded,
            // and an idle peer is pinged, so only one that has vanished is dropped.
            self->setIdleTimeout(self->settings.idleTimeout);
            self->ws->async_accept(beast::bind_front_handler(&Connection::onAccept, self));
        });
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
    guarded("accept", "websocket async accept exception is ", [&] {
        if (ec) {
            LOG(ERROR) << "[ERROR]:" << "websocket accept failed, err is " << ec.what();
            if (hooks.memoryReleased) hooks.memoryReleased();
            return;
        }
        phase = Phase::open;
        ConnectionRegistry::getInstance().addConnection(shared_from_this());
        // The budget tells this connection on its own strand, and only while it lives.
        ClientBudget::Client client;
        client.permit = [weak = weak_from_this(), target = strand](ReadPermit permit) {
            net::post(target, [weak, permit] {
                if (const std::shared_ptr<Connection> self = weak.lock()) self->onPermit(permit);
            });
        };
        client.closeForStall = [weak = weak_from_this(), target = strand](std::uint64_t messagesEndedThen) {
            net::post(target, [weak, messagesEndedThen] {
                const std::shared_ptr<Connection> self = weak.lock();
                if (!self) return;
                self->guarded("close for stall", "exception is ", [&] { self->closeForStall(messagesEndedThen); });
            });
        };
        client.closeForUnsent = [weak = weak_from_this(), target = strand] {
            net::post(target, [weak] {
                const std::shared_ptr<Connection> self = weak.lock();
                if (!self) return;
                self->guarded("close for unsent", "exception is ", [&] {
                    self->closeForUnsent("leaves the most unread while all clients together leave more than " +
                                         std::to_string(self->settings.maxTotalUnsentBytes) + " bytes");
                });
            });
        };
        account = budget->open(std::move(client));
    });
}

void Connection::onPermit(ReadPermit given) {
    guarded("permit", "exception is ", [&] {
        if (phase != Phase::open) return;
        const ReadState before = permit.state;
        permit = given;
        if (isWaiting(given.state)) {
            if (!isWaiting(before)) startWaiting();
            return;
        }
        if (isWaiting(before)) stopWaiting();
        doRead(given.bytes);
    });
}

void Connection::doRead(std::size_t limit) {
    readPending = true;
    ws->async_read_some(readBuffer, limit, beast::bind_front_handler(&Connection::onRead, shared_from_this()));
}

void Connection::onRead(boost::system::error_code ec, std::size_t bytes) {
    guarded("read", "exception is ", [&] {
        readPending = false;
        if (ec) {
            // Closed here: the failure is the close's, and was told with its reason.
            if (phase == Phase::gone) return;
            LOG(ERROR) << "[ERROR]:" << "websocket async read error is " << ec.what();
            end(Ending::readFailed);
            return;
        }
        if (phase != Phase::open) return;
        // A message counts as waiting from its first piece on.
        if (messageBytes == 0) messageBegun = std::chrono::steady_clock::now();
        messageBytes += bytes;
        const bool messageEnded = ws->is_message_done();
        costIn(messageCost, permit.part) += bytes + (messageEnded ? settings.requestOverheadBytes : 0);
        // The budget counts the request and gives its share in one step, before it is queued.
        QueueShare share =
            budget->read(account, ReadDone{bytes, messageEnded}, messageEnded ? messageCost : RequestCost{});
        if (!messageEnded) return;
        messageCost = {};
        ++messagesEnded;
        handOver(std::move(share));
    });
}

void Connection::handOver(QueueShare share) {
    if (hooks.enteringHandler) hooks.enteringHandler("hand over");
    // Answers and events follow the frame type of the client's last message.
    ws->binary(ws->got_binary());
    std::string message = beast::buffers_to_string(readBuffer.data());
    readBuffer.consume(readBuffer.size());
    // The room a large message needed is not kept for the life of the connection.
    if (readBuffer.capacity() > settings.keptReadBufferBytes) readBuffer.shrink_to_fit();
    LOG(INFO) << "[INFO]:" << "websocket{UUID:" << uuid << "} receive msg is " << keptInLog(message);
    messageBytes = 0;
    if (hooks.messageArrived) hooks.messageArrived(uuid, std::move(message), std::move(share), messageBegun);
}

void Connection::startWaiting() {
    // Beast sees the peer's pongs only while reading, so the idle timer would drop a peer that is
    // alive; it starts again with the next read.
    setIdleTimeout(std::chrono::milliseconds{0});
    watchPeer();
}

void Connection::stopWaiting() {
    peerWatch.cancel();
    setIdleTimeout(settings.idleTimeout);
}

void Connection::watchPeer() {
    peerWatch.expires_after(kPeerWatchPeriod);
    peerWatch.async_wait([self = shared_from_this()](boost::system::error_code ec) {
        self->guarded("peer watch", "exception is ", [&] {
            if (ec || self->phase != Phase::open || !isWaiting(self->permit.state)) return;
            const int state = platform::peerGone(self->getSocket().native_handle());
            if (state == 0) {
                self->watchPeer();
                return;
            }
            // The read that is not pending would have failed with this. What the peer sent and was
            // not read is given up, as when a reset throws it away.
            const boost::system::error_code failure =
                state > 0 ? boost::system::error_code(state, boost::system::system_category())
                          : boost::system::error_code(net::error::eof);
            LOG(ERROR) << "[ERROR]:" << "websocket async read error is " << failure.what();
            self->end(Ending::peerGone);
        });
    });
}

void Connection::closeForStall(std::uint64_t messagesEndedThen) {
    // Keyed on its own reading: a message that has ended since the budget looked was progress.
    if (phase != Phase::open || messagesEnded != messagesEndedThen) return;
    LOG(ERROR) << "[ERROR]:" << "websocket{UUID:" << uuid << "} sends less than " << settings.minimumRate
               << " bytes a second in the middle of a message while others wait for the room it holds, "
                  "connection closed";
    end(Ending::stalled);
}

void Connection::send(std::string text) {
    budget->gate()->post(strand, [self = shared_from_this(), text = std::move(text)]() mutable {
        self->guarded("send", "exception is ", [&] { self->queueText(std::move(text)); });
    });
}

void Connection::queueText(std::string text) {
    if (phase == Phase::gone) return;
    const std::size_t waiting = sendQueue.size();
    const std::size_t size = text.size();
    unsentBytes += size;
    budget->unsent(account, static_cast<std::ptrdiff_t>(size));
    sendQueue.push_back(std::move(text));
    if (unsentBytes > settings.maxUnsentBytes) {
        closeForUnsent("leaves more than " + std::to_string(settings.maxUnsentBytes) + " bytes unread");
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
    writing = true;
    ws->async_write(net::buffer(text), beast::bind_front_handler(&Connection::onWrite, shared_from_this()));
}

void Connection::onWrite(boost::system::error_code ec, std::size_t /*bytes*/) {
    guarded("write", "async send exception is ", [&] {
        writing = false;
        // The text is let go whether it went out or not.
        const std::size_t size = sendQueue.front().size();
        sendQueue.pop_front();
        unsentBytes -= size;
        budget->unsent(account, -static_cast<std::ptrdiff_t>(size));
        if (ec) {
            // Nothing more is written on this connection: the texts still queued go as well.
            releaseQueued();
            // Closed here: the failure is the close's, and was told with its reason. Its last
            // answers are free only now.
            if (phase == Phase::gone) {
                if (hooks.memoryReleased) hooks.memoryReleased();
                return;
            }
            LOG(ERROR) << "[ERROR]:" << "async send err is " << ec.what();
            end(Ending::writeFailed);
            return;
        }
        if (phase == Phase::gone) return;
        if (sendQueue.empty()) {
            if (closeWhenWritten) closeSocket();
            return;
        }
        doWrite();
    });
}

void Connection::closeForUnsent(const std::string& why) {
    if (phase == Phase::gone) return;
    LOG(ERROR) << "[ERROR]:" << "websocket{UUID:" << uuid << "} " << why << ", connection closed";
    releaseQueued();
    end(Ending::tooMuchUnsent);
}

void Connection::releaseQueued() {
    const std::size_t kept = writing ? 1 : 0;
    std::size_t released = 0;
    while (sendQueue.size() > kept) {
        released += sendQueue.back().size();
        sendQueue.pop_back();
    }
    if (released == 0) return;
    unsentBytes -= released;
    budget->unsent(account, -static_cast<std::ptrdiff_t>(released));
}

void Connection::end(Ending why) {
    if (phase == Phase::open) {
        // Gone as a client, at once and once. The budget first: whatever fails after it, the
        // room and the place in line of this client are given up.
        leaveBudget();
        if (hooks.enteringHandler) hooks.enteringHandler("end");
        // Unregistered and the host told (which ends the job and closes the printer).
        phase = Phase::closing;
        peerWatch.cancel();
        ConnectionRegistry::getInstance().removeConnection(uuid);
        if (hooks.connectionEnded) hooks.connectionEnded(uuid);
        if (hooks.memoryReleased) hooks.memoryReleased();
    }
    if (phase == Phase::gone) return;
    switch (why) {
        case Ending::closeFrame:
            // Beast's closing handshake is under way: it ends the read once the peer has ended TCP
            // too, and bounds that wait by no timer after a failed read, while an answering close
            // frame may wait behind answers that the peer does not read.
            return closeWithin();
        case Ending::readFailed:
        case Ending::writeFailed:
            // No read is pending after a failed one, and a failed write writes no more; what is
            // still being written gets the closing handshake's time to go, since a peer that has
            // half-closed may still read it, and then the socket goes.
            if (!writing && !readPending) break;
            closeWhenWritten = !readPending;
            return closeWithin();
        case Ending::exception:
        case Ending::tooMuchUnsent:
        case Ending::peerGone:
        case Ending::stalled:
            break;
    }
    closeSocket();
}

void Connection::leaveBudget() {
    if (budgetLeft) return;
    budget->leave(account);
    budgetLeft = true;
}

void Connection::closeWithin() {
    // The first such wait bounds the socket's life: whatever the peer does, it goes by then.
    if (closeDeadline.expiry() != net::steady_timer::time_point{}) return;
    closeDeadline.expires_after(settings.handshakeTimeout);
    closeDeadline.async_wait([weak = weak_from_this()](boost::system::error_code ec) {
        const std::shared_ptr<Connection> self = weak.lock();
        if (ec || !self) return;
        self->guarded("close deadline", "exception is ", [&] { self->closeSocket(); });
    });
}

void Connection::closeSocket() {
    // Whatever is pending on the socket completes now, with failures that are not told again.
    if (phase == Phase::gone) return;
    phase = Phase::gone;
    boost::system::error_code ignored;
    peerWatch.cancel();
    closeDeadline.cancel();
    getSocket().close(ignored);
    // Nothing more is queued or written: what waits is let go, the text in flight by its write.
    releaseQueued();
    if (hooks.memoryReleased) hooks.memoryReleased();
    if (account == 0) return;
    // An end that failed before it could tell the budget tells it now.
    leaveBudget();
    if (!socketClosedTold) {
        budget->socketClosed(account);
        socketClosedTold = true;
    }
}
