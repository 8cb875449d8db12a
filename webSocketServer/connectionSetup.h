// What a connection is given by whoever runs the listener: the host's two hooks, and the limits
// that keep one peer from holding what the others need. The network layer knows nothing above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class Connection;

// A connection's share of the request queue, carried by one of its requests while that request
// waits there; it counts in the total of all connections too. Giving it back (destroying it: when
// the request is taken, and as well when a stop discards it) lets a connection that stopped
// reading read again. Safe from any thread.
class QueueShare {
public:
    QueueShare() = default;
    QueueShare(QueueShare&& other) noexcept;
    QueueShare& operator=(QueueShare&& other) noexcept;
    QueueShare(const QueueShare&) = delete;
    QueueShare& operator=(const QueueShare&) = delete;
    ~QueueShare();

private:
    friend class Connection;
    QueueShare(std::weak_ptr<Connection> owner, std::size_t bytes);
    void giveBack();

    std::weak_ptr<Connection> owner;
    std::size_t bytes = 0;
    bool held = false;
};

struct ConnectionHooks {
    // A whole message arrived (network thread); its share goes into the queue with it. `begun` is
    // when its first piece was read: it has counted as waiting since then.
    std::function<void(const std::string& clientId, std::string message, QueueShare share,
                       std::chrono::steady_clock::time_point begun)>
        messageArrived;
    // A registered client went away (network thread), whichever way its connection ended: a read
    // or a write failed, a timer ran out, an exception, or it was closed for leaving too much
    // unread. Told once per connection.
    std::function<void(const std::string& clientId)> connectionEnded;
    // A connection ended or never got through its handshake (network thread): what it held is
    // free, and the host may give it back to the system when that stalls nobody.
    std::function<void()> memoryReleased;
};

struct ConnectionSettings {
    // The opening handshake, and the closing one (from the close frame to the end of the socket),
    // must end within this time.
    std::chrono::milliseconds handshakeTimeout{std::chrono::seconds(30)};
    // A silent peer is pinged after half of this time and dropped when it has not answered by the
    // end of it; a peer that answers pings stays as long as it likes.
    std::chrono::milliseconds idleTimeout{std::chrono::minutes(5)};
    // Once this much of a client's text, or this many of its requests, wait in the request
    // queue, its connection is not read until the worker has taken some of them. The count is far
    // above any burst of a page, so that a stop is never left unread behind small requests.
    std::size_t maxQueuedBytes = 64u << 20;
    std::size_t maxQueuedRequests = 4096;
    // A client that leaves more than this unread is closed.
    std::size_t maxUnsentBytes = 64u << 20;
    // What all clients together may have waiting in the queue (messages being read included),
    // and leave unread. At the first, a client that has more than a little waiting is not read
    // until there is room; beyond the second, the client that leaves the most unread is closed. A
    // client that holds less than a little (a getter, a stop, a page's burst of them) is never
    // paused or closed for the others' sake.
    std::size_t maxTotalQueuedBytes = 256u << 20;
    std::size_t maxTotalUnsentBytes = 256u << 20;
    std::size_t littleBytes = 16u << 10;
    // A read buffer grown beyond this by a large message is given back after it.
    std::size_t keptReadBufferBytes = 64u << 10;
};
