// One WebSocket client of the service: the server handshake, a read loop that hands every message
// to the request queue, and a send queue that writes one text at a time, in order of hand-over.
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

class Connection : public std::enable_shared_from_this<Connection> {
public:
    // Draws the client id; throws the random source's error when no id can be drawn.
    explicit Connection(boost::asio::io_context& ioc);
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

    // From now on send() drops its text. The entry point calls it before the event loop goes
    // away, so that the worker or the SDK's thread never posts onto a destroyed loop; it returns
    // once no send() is still posting.
    static void stopSending();

private:
    using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
    using Stream = boost::beast::websocket::stream<boost::beast::tcp_stream>;

    void onAccept(boost::system::error_code ec);
    void doRead();
    void onRead(boost::system::error_code ec, std::size_t bytes);
    // On the strand: appends the text and starts a write when none is in flight.
    void queueText(std::string text);
    // On the strand: writes the front of sendQueue.
    void doWrite();
    void onWrite(boost::system::error_code ec, std::size_t bytes);

    // Every handler of this connection, and every append to its queue, runs on this strand.
    Strand strand;
    std::unique_ptr<Stream> ws;
    std::string uuid;
    boost::asio::io_context& ioc;
    boost::beast::flat_buffer readBuffer;
    // The front text is the one being written; it stays in place until its write completes.
    std::deque<std::string> sendQueue;
};
