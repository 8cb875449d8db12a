// One WebSocket client of the service: the server handshake, a read loop that hands every message
// to the host, and a send queue that writes one text at a time, in order of hand-over.
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

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>

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
    explicit Connection(boost::asio::io_context& ioc, ConnectionHooks hooks = {}, ConnectionSettings settings = {});
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
    void send(std::string text);

    // From now on send() drops its text (and a returned queue share posts nothing). The entry
    // point calls it before the event loop goes away, so that the worker or the SDK's thread never
    // posts onto a destroyed loop; it returns once no send() is still posting.
    static void stopSending();

    // Bytes held by the read buffer between messages; call it on the connection's strand (the
    // socket's executor).
    std::size_t readBufferCapacity() const;

private:
    friend class QueueShare;
    using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
    using Stream = boost::beast::websocket::stream<ClientTcpStream>;

    void onAccept(boost::system::error_code ec);
    void doRead();
    void onRead(boost::system::error_code ec, std::size_t bytes);
    // Any thread: hands a share back to its connection's strand.
    static void giveBackShare(const std::weak_ptr<Connection>& owner, std::size_t bytes);
    // On the strand: a message has been read whole; it goes to the host.
    void handOver();
    // On the strand: a request of this client left the queue; a paused read starts again.
    void onShareReturned(std::size_t bytes);
    // This client's own bounds, and those with the total of all clients beside them.
    bool ownAllowanceUsed() const;
    bool queueAllowanceUsed() const;
    // On the strand: waits for the total of all clients to fall below its mark.
    void waitForRoomInTotal();
    // Any thread: the total fell, or a message read past the mark has ended; those waiting for
    // less than the total now are told on their strands, and when no request waits, one of them
    // may read its message to the end.
    static void roomMade();
    void onRoomInTotal(bool finish);
    // On the strand: the turn to read past the mark goes on while more comes, up to its end.
    void extendFinishTurn();
    // On the strand (or at destruction): this client no longer reads past the mark.
    void stopFinishing();
    // On the strand: no read while this client has its fill waiting. A paused client is still
    // one: it is not idle because its requests wait, and a peer that resets or closes meanwhile
    // ends it.
    void pauseReading();
    void resumeReading();
    void setIdleTimeout(std::chrono::milliseconds idle);
    void checkPausedSocket();
    // On the strand: appends the text and starts a write when none is in flight.
    void queueText(std::string text);
    // On the strand: writes the front of sendQueue.
    void doWrite();
    void onWrite(boost::system::error_code ec, std::size_t bytes);
    // On the strand: closes a client that leaves more unread than it may, with its log line.
    void closeForUnsentBytes(const std::string& why);
    // On the strand: all clients together leave too much unread; the one that leaves the most
    // (more than a little) is closed.
    void closeLargestUnsent();
    // On the strand, once: unregisters this client and tells the host that it went away.
    void end();
    // On the strand: a close frame was read from the peer, or is about to be sent to it; the
    // client has gone, and its socket goes within the handshake's time.
    void onClosing();
    // On the strand: a write failed, or an exception: the client has ended, and its socket is closed
    // when no read is pending that would notice it.
    void failed();
    // On the strand: ends the client and closes its socket, so that whatever is pending on it
    // completes and the connection is released.
    void endAndClose();

    // Every handler of this connection, and every append to its queue, runs on this strand.
    Strand strand;
    std::unique_ptr<Stream> ws;
    std::string uuid;
    boost::asio::io_context& ioc;
    ConnectionHooks hooks;
    ConnectionSettings settings;
    boost::beast::flat_buffer readBuffer;
    // The front text is the one being written; it stays in place until its write completes.
    std::deque<std::string> sendQueue;
    // Written on the strand; read from other strands to find the client that leaves the most.
    std::atomic<std::size_t> unsentBytes{0};
    // The socket's descriptor once the handshake is done, -1 once closed here; read from other
    // strands to see whether its peer has sent more.
    std::atomic<int> socketFd{-1};
    // What this client has waiting in the request queue (the message being read included), and
    // whether its read waits for room.
    std::size_t queuedBytes = 0;
    std::size_t queuedRequests = 0;
    std::size_t readingBytes = 0;
    std::chrono::steady_clock::time_point messageBegun;
    bool readPaused = false;
    bool waitingForRoom = false;
    // Allowed to read its message to the end past the total's mark, for a turn.
    bool mayFinish = false;
    unsigned finishTurns = 0;
    std::chrono::steady_clock::time_point finishTurnEnd;
    // While reading is paused, the socket is looked at for a peer that has gone.
    boost::asio::steady_timer pausedCheck;
    bool pausedCheckPending = false;
    boost::asio::steady_timer finishDeadline;
    // From the first close frame, either way, to the end of the socket.
    boost::asio::steady_timer closeDeadline;
    bool closing = false;
    // A write is in flight: the front text of sendQueue is being written.
    bool writing = false;
    // Closed here (too much unread, or reset while paused): the failures of its pending operations
    // that follow are expected and not logged again.
    bool closedHere = false;
    // The opening handshake is done.
    bool opened = false;
    // Unregistered and reported to the host.
    bool ended = false;
};
