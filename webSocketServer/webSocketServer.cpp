#include "webSocketServer/webSocketServer.h"

#include <glog/logging.h>

#include <exception>
#include <utility>

#include "webSocketServer/connection.h"

namespace net = boost::asio;
using net::ip::tcp;

WebSocketServer::WebSocketServer(net::io_context& context, int port) : acceptor(context), ioc(context) {
    const tcp::endpoint endpoint(tcp::v4(), static_cast<unsigned short>(port));
    // Each step throws an error that names it ("open", "set_option", "bind", "listen").
    acceptor.open(endpoint.protocol());
    acceptor.set_option(net::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(net::socket_base::max_listen_connections);
    LOG(INFO) << "[INFO]:" << "Server start on port : " << port;
}

void WebSocketServer::start() {
    doAccept();
}

void WebSocketServer::doAccept() {
    // The connection exists before a client arrives: its id line shows every accept attempt.
    auto connection = std::make_shared<Connection>(ioc);
    acceptor.async_accept(connection->getSocket(), [this, connection](boost::system::error_code ec) {
        acceptHandler(ec, connection);
    });
}

void WebSocketServer::acceptHandler(boost::system::error_code ec, std::shared_ptr<Connection> connection) {
    try {
        if (ec) {
            LOG(INFO) << "[INFO]:" << "acceptor async_accept failed, err is " << ec.what();
        } else {
            connection->start();
        }
        doAccept();
    } catch (const std::exception& e) {
        // No next accept: existing clients go on, new ones are no longer taken.
        LOG(INFO) << "[INFO]:" << "async_accept error is " << e.what();
    }
}
