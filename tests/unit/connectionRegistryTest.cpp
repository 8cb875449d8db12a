// The registry of live connections: lookups of ids that are not there, replacement under an id,
// that removing the last holder destroys the connection at once, and use from several threads.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/logCapture.h"
#include "webSocketServer/connection.h"
#include "webSocketServer/connectionRegistry.h"

namespace {

class ConnectionRegistryTest : public ::testing::Test {
protected:
    void TearDown() override { registry.removeAll(); }

    boost::asio::io_context ioc;
    std::shared_ptr<ClientBudget> budget = std::make_shared<ClientBudget>(ioc, ConnectionSettings{});
    ConnectionRegistry& registry = ConnectionRegistry::getInstance();
};

TEST_F(ConnectionRegistryTest, UnknownIdsYieldNoConnection) {
    EXPECT_EQ(registry.getConnection(""), nullptr);
    EXPECT_EQ(registry.getConnection("no-such-client"), nullptr);
    registry.removeConnection("no-such-client");  // ignored
}

TEST_F(ConnectionRegistryTest, AddedConnectionsAreFoundByTheirIdUntilRemoved) {
    auto a = std::make_shared<Connection>(ioc, budget);
    auto b = std::make_shared<Connection>(ioc, budget);
    registry.addConnection(a);
    registry.addConnection(b);
    EXPECT_EQ(registry.getConnection(a->getUuid()), a);
    EXPECT_EQ(registry.getConnection(b->getUuid()), b);
    registry.removeConnection(a->getUuid());
    EXPECT_EQ(registry.getConnection(a->getUuid()), nullptr);
    EXPECT_EQ(registry.getConnection(b->getUuid()), b);
}

TEST_F(ConnectionRegistryTest, RemovingTheLastHolderDestroysTheConnectionAtOnce) {
    LogCapture log;
    auto connection = std::make_shared<Connection>(ioc, budget);
    const std::string id = connection->getUuid();
    std::weak_ptr<Connection> watch = connection;
    registry.addConnection(std::move(connection));
    EXPECT_FALSE(watch.expired()) << "the registry holds it";
    registry.removeConnection(id);
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(log.contains("[INFO]:connection destruction!" + id));
}

// Client ids are random, so two connections never share one; adding under an id that is present
// must still leave exactly one entry for it.
TEST_F(ConnectionRegistryTest, AddingUnderAPresentIdLeavesOneEntry) {
    auto connection = std::make_shared<Connection>(ioc, budget);
    const std::string id = connection->getUuid();
    std::weak_ptr<Connection> watch = connection;
    registry.addConnection(connection);
    registry.addConnection(connection);
    connection.reset();
    EXPECT_FALSE(watch.expired());
    registry.removeConnection(id);
    EXPECT_TRUE(watch.expired()) << "a single entry held it";
}

TEST_F(ConnectionRegistryTest, RemoveAllForgetsEveryConnection) {
    std::vector<std::weak_ptr<Connection>> watches;
    for (int i = 0; i < 5; ++i) {
        auto c = std::make_shared<Connection>(ioc, budget);
        watches.push_back(c);
        registry.addConnection(c);
    }
    registry.removeAll();
    for (const auto& w : watches) EXPECT_TRUE(w.expired());
}

TEST_F(ConnectionRegistryTest, LookupsFromOtherThreadsWhileTheNetworkThreadChangesIt) {
    std::vector<std::shared_ptr<Connection>> pool;
    for (int i = 0; i < 16; ++i) pool.push_back(std::make_shared<Connection>(ioc, budget));
    std::atomic<bool> done{false};
    std::atomic<int> found{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                for (const auto& c : pool) found += registry.getConnection(c->getUuid()) ? 1 : 0;
            }
        });
    }
    for (int round = 0; round < 2000; ++round) {
        const auto& c = pool[static_cast<size_t>(round) % pool.size()];
        registry.addConnection(c);
        if (round % 3 == 0) registry.removeConnection(c->getUuid());
    }
    done = true;
    for (auto& t : readers) t.join();
    for (const auto& c : pool) registry.removeConnection(c->getUuid());
    for (const auto& c : pool) EXPECT_EQ(registry.getConnection(c->getUuid()), nullptr);
}

// ---- client ids ----------------------------------------------------------------------------

TEST(ConnectionId, IsARandomVersionFourUuidInLowerCaseAndLoggedAtCreation) {
    boost::asio::io_context ioc;
    const auto budget = std::make_shared<ClientBudget>(ioc, ConnectionSettings{});
    LogCapture log;
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> ids;
    for (int i = 0; i < 200; ++i) {
        Connection connection(ioc, budget);
        const std::string id = connection.getUuid();
        ASSERT_EQ(id.size(), 36u) << id;
        ASSERT_TRUE(std::regex_match(id, form)) << id;
        ids.insert(id);
        EXPECT_TRUE(log.contains("[INFO]:current custom id: " + id));
    }
    EXPECT_EQ(ids.size(), 200u);
}

}  // namespace
