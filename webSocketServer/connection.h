// One WebSocket client of the service: the server handshake, a read loop that asks the budget
// before every read and hands every message to the host, a send queue that writes one text at a
// time in order of hand-over, and one end.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <boost/beast/websocket/teardown.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "webSocketServer/clientBudget.h"
#include "webSocketServer/connectionSetup.h"

// The TCP stream under a client's WebSocket: Beast's own, but `writing` is told before every write
// of the WebSocket's, the close frame that a failed read makes it send among them, so that the
// connection knows of the end before the frame has gone and before any other client's message is
// read.
class ClientTcpStream : public boost::beast::tcp_stream {
public:
    using boost::beast::tcp_stream::tcp_stream;
    std::function<void()> writing;

    template <class ConstBufferSequence, class WriteHandler>
    auto async_write_some(const ConstBufferSequence& buffers, WriteHandler&& handler) {
        if (writing) writing();
        return boost::beast::tcp_stream::async_write_some(buffers, std::forward<WriteHandler>(handler));
    }
};

// Found by the WebSocket stream for its teardown (argument-dependent lookup): Beast's teardown of
// the socket, which its catch-all template would otherwise stand in front of for a derived stream.
template <class Handler>
void async_teardown(boost::beast::role_type role, ClientTcpStream& stream, Handler&& handler) {
    boost::beast::websocket::async_teardown(role, stream.socket(), std::forward<Handler>(handler));
}

class Connection : public std::enable_shared_from_this<Connection> {
public:
    // Draws the client id; throws the random source's error when no id can be drawn.
    Connection(boost::asio::io_context& ioc, std::shared_ptr<ClientBudget> budget, ConnectionHooks hooks = {},
               ConnectionSettings settings = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The TCP socket under the WebSocket stream, for the listener to accept into.
    boost::asio::ip::tcp::socket& getSocket();
    std::string getUuid() const;

    // Begins the server handshake on the accepted socket.
    void start();

    // Queues a text for writing and returns at once; safe from any thread. Every text goes out
    // as one message, in the order of the calls, with the frame type of the last message read.
    // Dropped once the budget's gate is closed (shutdown).
    void send(std::string text);

    // Bytes held by the read buffer between messages; call it on the connection's strand (the
    // socket's executor).
    std::size_t readBufferCapacity() const;

private:
    using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
    using Stream = boost::beast::websocket::stream<ClientTcpStream>;

    // handshaking → open → closing (gone as a client, the socket still open: a closing handshake,
    // or operations that notice the end) → gone (the socket closed here).
    enum class Phase { handshaking, open, closing, gone };
    // Why a connection ends.
    enum class Ending { closeFrame, readFailed, writeFailed, exception, tooMuchUnsent, peerGone, stalled };

    // Runs a handler of this connection: an exception ends this connection alone.
    template <class Handler>
    void guarded(const char* name, const char* exceptionText, Handler&& handler);
    void onAccept(boost::system::error_code ec);
    void onPermit(ReadPermit permit);
    void doRead(std::size_t limit);
    void onRead(boost::system::error_code ec, std::size_t bytes);
    void handOver(QueueShare share);
    // The budget found it holding room others wait for without making progress in its message.
    void closeForStall(std::uint64_t messagesEndedThen);
    // Told to wait: no read is pending, so the peer's pongs go unseen and nothing would notice a
    // peer that resets or closes; the idle timer is off and the socket is looked at instead.
    void startWaiting();
    void stopWaiting();
    void watchPeer();
    void queueText(std::string text);
    void doWrite();
    void onWrite(boost::system::error_code ec, std::size_t bytes);
    void setIdleTimeout(std::chrono::milliseconds idle);
    void closeForUnsent(const std::string& why);
    // The one end: tells the budget, unregisters the client and tells the host, once; then closes
    // the socket, at once or, where a close is under way or a text is still being written, within
    // the closing handshake's time.
    void end(Ending why);
    // Gives up its room and its place in line, once.
    void leaveBudget();
    void closeWithin();
    void closeSocket();
    // Lets every queued text go but the one being written, whose write still reads it.
    void releaseQueued();

    Strand strand;
    std::unique_ptr<Stream> ws;
    std::string uuid;
    boost::asio::io_context& ioc;
    std::shared_ptr<ClientBudget> budget;
    ConnectionHooks hooks;
    ConnectionSettings settings;
    Phase phase = Phase::handshaking;
    std::uint64_t account = 0;
    bool budgetLeft = false;
    bool socketClosedTold = false;
    // The budget's last permit; a read is pending while it permits reading and `readPending` is set.
    ReadPermit permit;
    bool readPending = false;
    boost::beast::flat_buffer readBuffer;
    std::size_t messageBytes = 0;
    // The message's cost by the part of the budget each read was permitted from.
    RequestCost messageCost;
    std::uint64_t messagesEnded = 0;
    std::chrono::steady_clock::time_point messageBegun;
    // The front text is the one being written; it stays in place until its write completes.
    std::deque<std::string> sendQueue;
    std::size_t unsentBytes = 0;
    bool writing = false;
    // After a failed read, the text being written is the last: the socket closes once it is.
    bool closeWhenWritten = false;
    // While waiting: looks at the socket. Once the client has gone: closes the socket within the
    // closing handshake's time.
    boost::asio::steady_timer peerWatch;
    boost::asio::steady_timer closeDeadline;
};
