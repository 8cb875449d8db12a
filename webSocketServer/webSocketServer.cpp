#include "webSocketServer/webSocketServer.h"

#include <glog/logging.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "webSocketServer/clientBudget.h"
#include "webSocketServer/connection.h"

namespace net = boost::asio;
using net::ip::tcp;

namespace {

constexpr std::chrono::milliseconds kFirstAcceptDelay{100};
constexpr std::chrono::milliseconds kLongestAcceptDelay{1000};

}  // namespace

WebSocketServer::WebSocketServer(net::io_context& context, int port, ConnectionHooks hooks,
                                 ConnectionSettings settings)
    : acceptor(context),
      ioc(context),
      hooks(std::move(hooks)),
      settings(settings),
      budget(std::make_shared<ClientBudget>(context, settings)),
      acceptPause(context) {
    const tcp::endpoint endpoint(tcp::v4(), static_cast<unsigned short>(port));
    // Each step throws an error that names it ("open", "set_option", "bind", "listen").
    acceptor.open(endpoint.protocol());
    acceptor.set_option(net::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(net::socket_base::max_listen_connections);
    LOG(INFO) << "[INFO]:" << "Server start on port : " << port;
}

WebSocketServer::~WebSocketServer() {
    budget->close();
}

void WebSocketServer::start() {
    doAccept();
}

void WebSocketServer::doAccept() {
    // The connection exists before a client arrives: its id line shows every accept attempt.
    auto connection = std::make_shared<Connection>(ioc, budget, hooks, settings);
    acceptor.async_accept(connection->getSocket(), [this, connection](boost::system::error_code ec) {
        acceptHandler(ec, connection);
    });
}

void WebSocketServer::acceptHandler(boost::system::error_code ec, std::shared_ptr<Connection> connection) {
    try {
        if (!ec) {
            acceptDelay = std::chrono::milliseconds{0};
            connection->start();
            doAccept();
            return;
        }
        // Retried at once, a failure that lasts (no descriptor left) would spin and flood the log.
        LOG(INFO) << "[INFO]:" << "acceptor async_accept failed, err is " << ec.what();
        acceptDelay = acceptDelay.count() == 0 ? kFirstAcceptDelay : std::min(acceptDelay * 2, kLongestAcceptDelay);
        acceptPause.expires_after(acceptDelay);
        acceptPause.async_wait([this](boost::system::error_code waitError) {
            if (waitError) return;
            try {
                doAccept();
            } catch (const std::exception& e) {
                LOG(INFO) << "[INFO]:" << "async_accept error is " << e.what();
            }
        });
    } catch (const std::exception& e) {
        // No next accept: existing clients go on, new ones are no longer taken.
        LOG(INFO) << "[INFO]:" << "async_accept error is " << e.what();
    }
}
