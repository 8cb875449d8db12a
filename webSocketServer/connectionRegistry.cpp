#include "webSocketServer/connectionRegistry.h"

#include <utility>

#include "webSocketServer/connection.h"

ConnectionRegistry& ConnectionRegistry::getInstance() {
    static ConnectionRegistry instance;
    return instance;
}

void ConnectionRegistry::addConnection(std::shared_ptr<Connection> connection) {
    const std::string id = connection->getUuid();
    std::shared_ptr<Connection> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::shared_ptr<Connection>& slot = connections[id];
        replaced = std::exchange(slot, std::move(connection));
    }
    // A replaced connection that nothing else holds is destroyed here, outside the lock.
}

std::shared_ptr<Connection> ConnectionRegistry::getConnection(std::string clientId) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = connections.find(clientId);
    return found == connections.end() ? nullptr : found->second;
}

void ConnectionRegistry::removeConnection(std::string clientId) {
    std::shared_ptr<Connection> removed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = connections.find(clientId);
        if (found == connections.end()) return;
        removed = std::move(found->second);
        connections.erase(found);
    }
    // Dropped outside the lock: when this was the last holder the destructor runs (and logs) now.
}

void ConnectionRegistry::removeAll() {
    boost::unordered_map<std::string, std::shared_ptr<Connection>> removed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        removed.swap(connections);
    }
}
