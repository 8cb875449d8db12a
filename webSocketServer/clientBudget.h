// What all clients together may hold, and who may read: one budget, owned by the listener, whose
// state changes on its own strand only. A connection asks it before every read and is told how
// much it may read, or to wait; it never looks at another connection. Other threads only post
// to it what left the request queue.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "webSocketServer/connectionSetup.h"

// Where a connection's reading stands.
enum class ReadState {
    reading,      // may read what it was told: a first piece of a message, or on to a little
    finishing,    // holds a message slot: reads its message to the end
    waitingOwn,   // its own requests fill its bound; served ones wake it
    waitingRoom,  // holds little, but the part kept for that is full; room made there wakes it
    waitingSlot,  // past a little, the other part is full; room made there wakes it
    gone,         // left; its account stays while requests of it wait in the queue
};

const char* readStateName(ReadState state);

inline bool isWaiting(ReadState state) {
    return state == ReadState::waitingOwn || state == ReadState::waitingRoom || state == ReadState::waitingSlot;
}

// What a connection is told: read at most `bytes` (reading, finishing), or wait until told again.
struct ReadPermit {
    ReadState state = ReadState::reading;
    std::size_t bytes = 0;
};

// What a connection's last read brought.
struct ReadDone {
    std::size_t bytes = 0;
    bool messageEnded = false;
};

class ClientBudget;

// The door to the network side from other threads: open while it runs. Once closed, nothing is
// posted through it any more, so that no thread posts onto a loop that is going away.
class BudgetGate {
public:
    // Posts onto the executor while the gate is open; false when it is closed.
    template <class Executor, class Handler>
    bool post(const Executor& executor, Handler&& handler) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open) return false;
        boost::asio::post(executor, std::forward<Handler>(handler));
        return true;
    }
    // A whole request of that connection left the queue (taken, or discarded by a stop).
    void left(std::uint64_t account, std::size_t bytes);
    void close();

private:
    friend class ClientBudget;
    std::mutex mutex;
    bool open = true;
    ClientBudget* budget = nullptr;
};

// Budget states of one connection (every arrow is one event on the budget's strand):
//
//   open, read done ──► decide ──► reading ──(read done)──► decide
//                         │  ├──► finishing ─(read done, message on)─► finishing
//                         │  │        └─────(message ended)──────────► decide
//                         │  ├──► waitingOwn ──(its request left, at the low mark)──────► decide
//                         │  ├──► waitingRoom ─(room for a whole little, first in line)──► reading
//                         │  └──► waitingSlot ─(room for what it needs, first in line)───► reading
//                         │                     (a first piece) or finishing (a slot)
//   decide: between messages at its own bound, waitingOwn; holding less than a little, reading
//   (a first piece between messages, else on to a little); past a little, a first piece between
//   messages, a slot (room for the rest of a whole message) within one.
//   leave (from any state) ──► gone: its room and its place in line are given up; the account
//   stays, counting its requests, until the last has left the queue.
//
// The total is two parts. Each client's first little (what it holds up to a little, and a little
// grant) comes from the part kept for little; everything past it (the rest of what it holds, and
// the slots) from the other. Neither part can take the other's room, so getters and stops are
// read whatever large messages do, and large messages whatever small requests do.
//
// Invariant: every waiting connection is on exactly one list, the one of its state, and that
// list's event wakes it; each part stays within its bound, so held plus reserved never exceeds
// the total.
class ClientBudget {
public:
    using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;

    // How the budget reaches a connection: both are called on the budget's strand and must only
    // post onto the connection's own.
    struct Client {
        std::function<void(ReadPermit)> told;
        // All clients together leave too much unread, and this one the most.
        std::function<void()> closeForUnsent;
    };

    // Checks the settings (throws std::invalid_argument). The owner keeps the budget until its
    // loop has stopped running: handlers posted to it refer to it.
    ClientBudget(boost::asio::io_context& ioc, const ConnectionSettings& settings);
    ~ClientBudget();
    ClientBudget(const ClientBudget&) = delete;
    ClientBudget& operator=(const ClientBudget&) = delete;

    // Any thread. A connection whose handshake is done opens its account and is told at once;
    // after every read it tells what the read brought and is told again; it leaves once.
    std::uint64_t open(Client client);
    void read(std::uint64_t account, ReadDone done);
    void leave(std::uint64_t account);
    // Answers queued for (positive) or written to (negative) that connection.
    void unsent(std::uint64_t account, std::ptrdiff_t bytes);

    const std::shared_ptr<BudgetGate>& gate() const { return doorway; }
    // Closes the gate; the listener does so when it goes.
    void close();

    // On the strand (tests: once the loop has run): empty when the invariant holds, else what
    // is wrong. Debug builds check it after every event.
    std::string invariantBroken() const;
    std::size_t heldBytes() const { return held; }
    std::size_t reservedBytes() const { return reserved; }

private:
    struct Account;
    std::size_t littleShare(const Account& account) const;
    // Changes an account, keeping the use of the part kept for little in step with it.
    template <class Change>
    void changing(Account& account, Change&& change);
    struct Account {
        Client client;
        ReadState state = ReadState::reading;
        // Whole requests waiting in the queue, and the message being read.
        std::size_t queuedBytes = 0;
        std::size_t queuedRequests = 0;
        std::size_t messageBytes = 0;
        // Room held for its next read: a little one's grant, or the rest of a slot.
        std::size_t granted = 0;
        std::size_t unsentBytes = 0;
        bool closeTold = false;
        // Its place on the list of its state, while it waits.
        std::list<std::uint64_t>::iterator place;
        std::size_t holds() const { return queuedBytes + messageBytes; }
    };

    friend class BudgetGate;
    template <class Handler>
    void onStrand(const char* what, Handler&& handler);
    void opened(std::uint64_t id, Client client);
    void readDone(std::uint64_t id, ReadDone done);
    void requestLeft(std::uint64_t id, std::size_t bytes);
    void left(std::uint64_t id);
    void unsentChanged(std::uint64_t id, std::ptrdiff_t bytes);

    // Tells the account what it may do next, or puts it on the list that will wake it.
    void decide(std::uint64_t id, Account& account);
    void grant(Account& account, ReadState state, std::size_t bytes);
    void wait(std::uint64_t id, Account& account, ReadState state);
    void stopWaiting(Account& account);
    // Room was made: those first in line that now fit are told.
    void wakeWaiters();
    bool ownBoundReached(const Account& account) const;
    bool ownBelowLowMark(const Account& account) const;
    std::size_t littleRoom() const;
    std::size_t slotRoom() const;
    // What a client that holds less than a little is given.
    std::size_t littleBytes(const Account& account) const;
    // What a client past a little is given: a first piece, or a message slot's rest.
    std::size_t largeBytes(const Account& account) const;
    void grantLarge(Account& account);
    // What a client is given at the start of a message: enough for a getter, and what an idle
    // connection holds room for.
    std::size_t firstPiece() const;
    std::list<std::uint64_t>& listOf(ReadState state);
    void checked() const;

    Strand strand;
    const ConnectionSettings settings;
    std::shared_ptr<BudgetGate> doorway;
    std::atomic<std::uint64_t> nextAccount{1};
    std::unordered_map<std::uint64_t, Account> accounts;
    // Whole requests waiting (of every client, also of those gone) and messages being read; the
    // room granted and not yet read.
    std::size_t held = 0;
    std::size_t reserved = 0;
    // Of held and reserved, what comes from the part kept for little.
    std::size_t littleUse = 0;
    std::size_t unsentTotal = 0;
    // First come, first served.
    std::list<std::uint64_t> ownWaiters;
    std::list<std::uint64_t> roomWaiters;
    std::list<std::uint64_t> slotWaiters;
};
