// The listener of the service: owns the listening socket and keeps exactly one accept pending,
// each into a fresh Connection, which does the rest.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

#include <memory>

class Connection;

class WebSocketServer {
public:
    // Opens, configures, binds and listens on 0.0.0.0:port; throws the failed step's error.
    WebSocketServer(boost::asio::io_context& ioc, int port);
    WebSocketServer(const WebSocketServer&) = delete;
    WebSocketServer& operator=(const WebSocketServer&) = delete;

    // Makes the first accept pending.
    void start();

private:
    void doAccept();
    void acceptHandler(boost::system::error_code ec, std::shared_ptr<Connection> connection);

    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::io_context& ioc;
};
