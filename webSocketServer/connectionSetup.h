// What a connection is given by whoever runs the listener: the host's hooks, and the limits that
// keep one peer from holding what the others need. The network layer knows nothing above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct ShareReturn;

// What a request costs (its bytes and the fixed overhead of its place in the queue), by the part
// of the client budget that each byte was read with.
struct RequestCost {
    std::size_t starts = 0;
    std::size_t small = 0;
    std::size_t large = 0;
    std::size_t total() const { return starts + small + large; }
};

// A connection's share of the request queue, carried by one of its requests while that request
// waits there. It is made by the budget in the same step that counts the request; giving it back
// (destroying it: when the request is taken, when a stop discards it, or when the hand-over
// fails) tells the budget, which may let that connection or another read again. Safe from any
// thread.
class QueueShare {
public:
    QueueShare() = default;
    QueueShare(QueueShare&& other) noexcept;
    QueueShare& operator=(QueueShare&& other) noexcept;
    QueueShare(const QueueShare&) = delete;
    QueueShare& operator=(const QueueShare&) = delete;
    ~QueueShare();

private:
    friend class ClientBudget;
    QueueShare(std::shared_ptr<const ShareReturn> way, std::uint64_t account, RequestCost cost) noexcept;
    void giveBack() noexcept;

    std::shared_ptr<const ShareReturn> way;
    std::uint64_t account = 0;
    RequestCost cost;
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
    // Called with a handler's name as each handler of a connection begins, and at the steps "hand
    // over" (a request counted, before it reaches the host) and "end" (the budget told of a
    // departure, before the rest of it); tests throw from it.
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
    // What a request costs beyond its bytes: its place in the queue. Counted against every bound
    // below that counts bytes, so that empty messages are not free.
    std::size_t requestOverheadBytes = 256;
    // Once requests costing this much, or this many of them, wait in the request queue for one
    // client, none of its further messages is read until the worker has served half of them. The
    // count is far above any burst of a page, so that a stop is never left unread behind its own
    // small requests, and low enough that one client's flood delays the others by seconds.
    std::size_t maxQueuedBytes = 64u << 20;
    std::size_t maxQueuedRequests = 256;
    // All clients together: once this many requests wait, no client begins a further message
    // until one has been served, so that a flood leaves at most about a minute of the worker's
    // turns behind it.
    std::size_t maxTotalQueuedRequests = 4096;
    // What all clients together may hold: requests waiting in the queue and messages being read,
    // in three parts. Each client's next message begins with an opening read of at most
    // `openingReadBytes` from the part kept for starts; a client that holds less than
    // `smallClientBytes` reads the rest of its message up to that from the part kept for small
    // clients; past it, a message is read on only with room for the rest of a whole message set
    // aside from the remaining part. So getters and stops are read whatever longer messages do,
    // and clients in the middle of a message cannot fill the room that starts need.
    std::size_t maxTotalQueuedBytes = 192u << 20;
    std::size_t keptForStartsBytes = 32u << 20;
    std::size_t keptForSmallBytes = 32u << 20;
    std::size_t smallClientBytes = 64u << 10;
    std::size_t openingReadBytes = 512;
    // A client in the middle of a message that holds room others wait for must read at least
    // `minimumRate` bytes a second over each `progressWindow`, or it is closed; one that merely
    // waits reads nothing. Alone it may send as slowly as it likes.
    std::chrono::milliseconds progressWindow{std::chrono::seconds(10)};
    std::size_t minimumRate = 64u << 10;
    // A client that leaves more than this unread is closed.
    std::size_t maxUnsentBytes = 64u << 20;
    // Beyond this, all clients together leave too much unread: the one that leaves the most (more
    // than `leastClosedForUnsent`) is closed.
    std::size_t maxTotalUnsentBytes = 256u << 20;
    std::size_t leastClosedForUnsent = 16u << 10;
    // A read buffer grown beyond this by a large message is given back after it.
    std::size_t keptReadBufferBytes = 64u << 10;

    std::size_t largePartBytes() const { return maxTotalQueuedBytes - keptForStartsBytes - keptForSmallBytes; }
    // Throws std::invalid_argument naming the first rule that the limits break.
    void check() const;
};
