// The listener of the service: owns the listening socket and the budget of all its clients, and
// keeps one accept pending, each into a fresh Connection, which does the rest. After a failed
// accept (no descriptor left, say) it waits a little before the next one.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <memory>

#include "webSocketServer/connectionSetup.h"

class ClientBudget;
class Connection;

class WebSocketServer {
public:
    // Checks the settings (std::invalid_argument), then opens, configures, binds and listens on
    // 0.0.0.0:port; throws the failed step's error. Every connection gets the hooks, the settings
    // and the budget.
    WebSocketServer(boost::asio::io_context& ioc, int port, ConnectionHooks hooks = {},
                    ConnectionSettings settings = {});
    // Closes the budget's gate: from then on no other thread posts onto the event loop.
    ~WebSocketServer();
    WebSocketServer(const WebSocketServer&) = delete;
    WebSocketServer& operator=(const WebSocketServer&) = delete;

    // Makes the first accept pending.
    void start();

private:
    void doAccept();
    void acceptHandler(boost::system::error_code ec, std::shared_ptr<Connection> connection);

    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::io_context& ioc;
    ConnectionHooks hooks;
    ConnectionSettings settings;
    std::shared_ptr<ClientBudget> budget;
    // The wait after a failed accept: 100 ms, doubled after each further failure up to 1 s; none
    // once an accept succeeds.
    boost::asio::steady_timer acceptPause;
    std::chrono::milliseconds acceptDelay{0};
};
