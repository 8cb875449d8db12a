// One WebSocket client of the service: the server handshake, a read loop that hands every message
// to the host, and a send queue that writes one text at a time, in order of hand-over.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <boost/system/error_code.hpp>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "webSocketServer/connectionSetup.h"

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
    using Stream = boost::beast::websocket::stream<boost::beast::tcp_stream>;

    void onAccept(boost::system::error_code ec);
    void doRead();
    void onRead(boost::system::error_code ec, std::size_t bytes);
    // Any thread: hands a share back to its connection's strand.
    static void giveBackShare(const std::weak_ptr<Connection>& owner, std::size_t bytes);
    // On the strand: a request of this client left the queue; a paused read starts again.
    void onShareReturned(std::size_t bytes);
    bool queueAllowanceUsed() const;
    // On the strand: appends the text and starts a write when none is in flight.
    void queueText(std::string text);
    // On the strand: writes the front of sendQueue.
    void doWrite();
    void onWrite(boost::system::error_code ec, std::size_t bytes);
    // On the strand: closes a client that leaves more unread than it may.
    void closeForUnsentBytes(bool writeInFlight);
    // On the strand, once: unregisters this client and tells the host that it went away.
    void end();

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
    std::size_t unsentBytes = 0;
    // What this client has waiting in the request queue, and whether its read waits for room.
    std::size_t queuedBytes = 0;
    std::size_t queuedRequests = 0;
    bool readPaused = false;
    // Closed here for leaving too much unread: the failures of its pending operations that follow
    // are expected and not logged again.
    bool closedHere = false;
    // Unregistered and reported to the host.
    bool ended = false;
};
