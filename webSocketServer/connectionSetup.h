// What a connection is given by whoever runs the listener: the host's hooks, and the limits that
// keep one peer from holding what the others need. The network layer knows nothing above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class BudgetGate;

// A connection's share of the request queue, carried by one of its requests while that request
// waits there. Giving it back (destroying it: when the request is taken, and as well when a stop
// discards it) tells the budget, which may let that connection or another read again. Safe from
// any thread.
class QueueShare {
public:
    QueueShare() = default;
    QueueShare(std::shared_ptr<BudgetGate> gate, std::uint64_t account, std::size_t bytes);
    QueueShare(QueueShare&& other) noexcept;
    QueueShare& operator=(QueueShare&& other) noexcept;
    QueueShare(const QueueShare&) = delete;
    QueueShare& operator=(const QueueShare&) = delete;
    ~QueueShare();

private:
    void giveBack() noexcept;

    std::shared_ptr<BudgetGate> gate;
    std::uint64_t account = 0;
    std::size_t bytes = 0;
};

struct ConnectionHooks {
    // A whole message arrived (network thread); its share goes into the queue with it. `begun` is
    // when its first piece was read: it has counted as waiting since then.
    std::function<void(const std::string& clientId, std::string message, QueueShare share,
                       std::chrono::steady_clock::time_point begun)>
        messageArrived;
    // A registered client went away (network thread), whichever way its connection ended. Told
    // once per connection.
    std::function<void(const std::string& clientId)> connectionEnded;
    // A connection ended or never got through its handshake (network thread): what it held is
    // free, and the host may give it back to the system when that stalls nobody.
    std::function<void()> memoryReleased;
    // Called with a handler's name as each handler of a connection begins; tests throw from it.
    std::function<void(const char* handler)> enteringHandler;
};

struct ConnectionSettings {
    // The opening handshake, and the closing one (from the close frame to the end of the socket),
    // must end within this time.
    std::chrono::milliseconds handshakeTimeout{std::chrono::seconds(30)};
    // A silent peer is pinged after half of this time and dropped when it has not answered by the
    // end of it; a peer that answers pings stays as long as it likes.
    std::chrono::milliseconds idleTimeout{std::chrono::minutes(5)};
    // A longer message fails its read and closes the connection.
    std::size_t messageLimit = 16u << 20;
    // A client whose message has taken a message slot is closed when it sends nothing for the
    // first time, or has not sent the message whole within the second, so that peers that stop
    // or trickle in the middle cannot keep the slots from the others.
    std::chrono::milliseconds messageStallTimeout{std::chrono::seconds(10)};
    std::chrono::milliseconds messageTimeout{std::chrono::seconds(60)};
    // Once this much of a client's text, or this many of its requests, wait in the request
    // queue, none of its further messages is read until the worker has served half of them. The
    // count is far above any burst of a page, so that a stop is never left unread behind small
    // requests.
    std::size_t maxQueuedBytes = 64u << 20;
    std::size_t maxQueuedRequests = 4096;
    // A client that leaves more than this unread is closed.
    std::size_t maxUnsentBytes = 64u << 20;
    // What all clients together may hold: requests waiting in the queue and messages being read.
    // A message read past a little takes room for a whole message before it is read on; of the
    // total, `keptForLittleBytes` is kept for clients that hold less than a little (a getter, a
    // stop, a page's burst of them), so that they are read whatever large messages do.
    std::size_t maxTotalQueuedBytes = 192u << 20;
    std::size_t keptForLittleBytes = 64u << 20;
    std::size_t littleBytes = 16u << 10;
    // Beyond this, all clients together leave too much unread: the one that leaves the most (more
    // than a little) is closed.
    std::size_t maxTotalUnsentBytes = 256u << 20;
    // A read buffer grown beyond this by a large message is given back after it.
    std::size_t keptReadBufferBytes = 64u << 10;

    // Throws std::invalid_argument naming the first rule that the limits break.
    void check() const;
};
