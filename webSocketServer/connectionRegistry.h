// The process-wide table of live WebSocket clients by client id: the only way from the id that a
// queued request carries back to the connection that must receive its answer or an event.
#pragma once

#include <boost/unordered_map.hpp>

#include <memory>
#include <mutex>
#include <string>

class Connection;

class ConnectionRegistry {
public:
    static ConnectionRegistry& getInstance();

    ConnectionRegistry(const ConnectionRegistry&) = delete;
    ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

    // Registers the connection under its client id, replacing one already stored under it.
    void addConnection(std::shared_ptr<Connection> connection);
    // The connection registered under the id, or an empty pointer.
    std::shared_ptr<Connection> getConnection(std::string clientId);
    // Forgets the id; an id that is not registered is ignored.
    void removeConnection(std::string clientId);
    // Forgets every connection; the entry point calls it before the event loop goes away, so no
    // socket outlives the loop it was made on.
    void removeAll();

private:
    ConnectionRegistry() = default;

    // The network thread adds and removes while the worker and the SDK's thread look up.
    std::mutex mutex;
    boost::unordered_map<std::string, std::shared_ptr<Connection>> connections;
};
