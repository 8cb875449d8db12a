// What all clients together may hold, and who may read: one budget, owned by the listener, whose
// state changes on its own strand only. A connection asks it before every read and is given a
// permit: read at most so many bytes, or wait; it never looks at another connection. Other
// threads only post to it what left the request queue.
//
// Words used here:
//   part         the total is cut into three parts, each with a bound of its own: `starts` (room
//                for the opening read of every client's next message), `small` (the rest of each
//                small client's holding) and `large` (message room, and what a client holds past
//                a small client's). Bytes counted in one part stay in it until they are given back.
//   holding      what a client holds: the cost of its requests waiting in the queue and the bytes
//                of the message being read.
//   small client one whose holding is below `smallClientBytes`.
//   opening read the read that begins a client's next message: at most `openingReadBytes`.
//   message room room for the rest of a whole message (up to the message limit), set aside from
//                the large part before a message is read on past a small client's holding, and
//                kept to the message's end.
//   permit       what a connection is told: its read state and how many bytes it may read.
//   served       a request left the queue: the worker took it, or a stop discarded it.
//   leave        a client's connection ended (a departure).
//   in line      waiting, first come first served, on the list of what it waits for.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "webSocketServer/connectionSetup.h"
#include "webSocketServer/loopGate.h"
#include "webSocketServer/unsentAnswers.h"

enum class Part { starts, small, large };

// Where a connection's reading stands.
enum class ReadState {
    reading,       // may read what its permit says: an opening read, or on within a small client's holding
    readingToEnd,  // holds message room: reads its message to the end
    waitingOwn,    // its own requests waiting are at its bound; its own served ones wake it
    waitingStart,  // a small client between messages: in line for the starts part, or for the queue
    waitingSmall,  // a small client in a message: in line for the small part
    waitingLarge,  // past a small client's holding: in line for the large part
    gone,          // left; its account stays while requests of it wait in the queue
};

const char* readStateName(ReadState state);
std::size_t& costIn(RequestCost& cost, Part part);
std::size_t costIn(const RequestCost& cost, Part part);
bool isWaiting(ReadState state);

struct ReadPermit {
    ReadState state = ReadState::reading;
    // The part the read is counted in, and how many bytes it may bring (none while waiting).
    Part part = Part::starts;
    std::size_t bytes = 0;
};

// What a connection's last read brought.
struct ReadDone {
    std::size_t bytes = 0;
    bool messageEnded = false;
};

class ClientBudget;

// How a queue share finds its budget from any thread: through the gate, onto the budget's strand.
struct ShareReturn {
    std::shared_ptr<LoopGate> gate;
    boost::asio::strand<boost::asio::io_context::executor_type> strand;
    ClientBudget* budget;
};

// A connection's states (every arrow is one event on the budget's strand):
//
//   opened, read done, own requests served at the low mark ──► decide
//   decide: between messages at its own bound                        ──► waitingOwn
//           otherwise its need (below): nobody in that line and it fits ──► reading | readingToEnd
//                                       else                         ──► the line of that part
//     need: a small client between messages: an opening read from starts (and the queue's count)
//           a small client in a message: on to a small client's holding, from small
//           past it between messages: an opening read from large (and the queue's count)
//           past it in a message: message room, from large (readingToEnd)
//   reading ──(read done)──► decide
//   readingToEnd ──(read done, message goes on)──► readingToEnd
//                └─(message ended)────────────────► decide
//   waitingOwn ──(its own served, at half its bound)──► decide
//   waitingStart | waitingSmall | waitingLarge ──(first in line, and its need fits)──► reading | readingToEnd
//   waiting in a line ──(its own served: what it needs now comes from another part)──► decide
//   any state ──(leave)──► gone: its room and its place in line are given up; the account stays,
//                                counting its requests, until the last has been served
//   in a message, holding room of a part whose first in line waits for room, and reading less
//   than the minimum rate over a window from then on (one in line reads nothing; its place in its
//   own line does not count against it) ──► told to close (it then leaves)
//
// Invariant: each waiting connection is on exactly one line, the one of its state; each part's
// use is the sum of the accounts' own counters for it, and stays within its bound; the requests
// counted are those the accounts hold. A part's bound is checked whenever it counts more, and
// what it gives back against what it holds; the whole at every look at progress (and by the tests); in every build a broken rule is logged once and
// counted, and the budget keeps serving.
class ClientBudget {
public:
    using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;

    // How the budget reaches a connection: each is called on the budget's strand and must only
    // post onto the connection's own.
    struct Client {
        std::function<void(ReadPermit)> permit;
        // Too slow, in the middle of its `messagesEnded + 1`th message, while others wait for the
        // room it holds: it should close, unless that message has ended meanwhile.
        std::function<void(std::uint64_t messagesEnded)> closeForStall;
        // All clients together leave too much unread, and this one the most.
        std::function<void()> closeForUnsent;
    };

    using Clock = std::chrono::steady_clock;

    // Checks the settings (throws std::invalid_argument). The owner keeps the budget until its
    // loop has stopped running: handlers posted to it refer to it. Tests give a clock of their own.
    ClientBudget(boost::asio::io_context& ioc, const ConnectionSettings& settings,
                 std::function<Clock::time_point()> clock = &Clock::now);
    ~ClientBudget();
    ClientBudget(const ClientBudget&) = delete;
    ClientBudget& operator=(const ClientBudget&) = delete;

    // Any thread; each is posted through the gate, so nothing arrives once it is closed. A
    // connection whose handshake is done opens its account and is given a permit; after every
    // read it tells what the read brought and is given the next. A read that ends a message
    // returns the request's share, counted in the same step; `cost` is the request's cost by part.
    std::uint64_t open(Client client);
    QueueShare read(std::uint64_t account, ReadDone done, RequestCost cost = {});
    void leave(std::uint64_t account);
    // Answers queued for (positive) or let go by (negative) that connection; once its socket is
    // closed, nothing more is queued and its count goes when all is let go.
    void unsent(std::uint64_t account, std::ptrdiff_t bytes);
    void socketClosed(std::uint64_t account);

    const std::shared_ptr<LoopGate>& gate() const { return shareReturn->gate; }
    // Looks at every client's progress now, as the budget does every tenth of a window while
    // anyone waits.
    void checkProgress();
    // Closes the gate; the listener does so when it goes.
    void close();

    // On the strand (tests: once the loop has run).
    std::string invariantBroken() const;
    std::size_t brokenRules() const { return broken.load(); }
    std::size_t usedBytes(Part part) const { return used[index(part)]; }
    std::size_t usedBytes() const { return used[0] + used[1] + used[2]; }
    std::size_t queuedRequests() const { return totalRequests; }
    std::size_t unsentBytes() const { return unsentAnswers.total(); }
    std::size_t accountCount() const { return accounts.size() + unsentAnswers.clients(); }

private:
    using Line = std::list<std::uint64_t>;
    static std::size_t index(Part part) { return static_cast<std::size_t>(part); }

    struct Account {
        Client client;
        ReadState state = ReadState::reading;
        RequestCost queued;
        std::size_t queuedRequests = 0;
        // The message being read, by part; `inMessage` also after reads that brought nothing.
        RequestCost message;
        bool inMessage = false;
        // The room set aside for the read it was permitted: the permit's bytes and a request's
        // overhead, should that read end the message.
        Part grantPart = Part::starts;
        std::size_t granted = 0;
        std::size_t permitted = 0;
        // Progress in the middle of a message.
        std::uint64_t messagesEnded = 0;
        std::uint64_t bytesRead = 0;
        std::uint64_t progressMark = 0;
        Clock::time_point progressSince{};
        bool stallTold = false;
        Line::iterator place;
        std::size_t holding() const { return queued.total() + message.total(); }
    };
    struct Need {
        ReadState state;
        Part part;
        std::size_t bytes;
        bool opening;
    };

    friend class QueueShare;
    // Runs an event on the strand: posted through the gate, or (`onStrandNow`) already there.
    template <class Handler>
    void onStrand(const char* what, Handler&& handler);
    template <class Handler>
    void onStrandNow(const char* what, Handler&& handler);
    void opened(std::uint64_t id, Client client);
    void readDone(std::uint64_t id, ReadDone done, RequestCost cost);
    void served(std::uint64_t id, RequestCost cost);
    void left(std::uint64_t id);

    // Gives the account its permit, or puts it in the line that will wake it.
    void decide(std::uint64_t id, Account& account);
    // What it needs next; `toEnd` for one that holds message room and reads on.
    Need need(const Account& account, bool toEnd) const;
    // The one rule of whether a need can be met now, for a newcomer and a waiter alike.
    bool fits(const Need& need) const;
    void grant(Account& account, const Need& need);
    void releaseGrant(Account& account);
    void wait(std::uint64_t id, Account& account, ReadState state);
    void stopWaiting(Account& account);
    // Room was made: those first in line whose need now fits are given their permits.
    void wakeWaiters();
    bool ownBoundReached(const Account& account) const;
    bool ownBelowLowMark(const Account& account) const;
    std::size_t bound(Part part) const;
    std::size_t room(Part part) const;
    Line& lineOf(ReadState state);
    Line& lineOf(Part part);
    void count(Part part, std::size_t bytes);
    void uncount(Part part, std::size_t bytes);
    // Closes the clients that hold room others are in line for without making progress.
    void sweep();
    void armSweep();
    void brokenRule(const std::string& rule);

    Strand strand;
    const ConnectionSettings settings;
    const std::function<Clock::time_point()> now;
    std::shared_ptr<const ShareReturn> shareReturn;
    boost::asio::steady_timer sweepTimer;
    bool sweepArmed = false;
    std::atomic<std::uint64_t> nextAccount{1};
    std::unordered_map<std::uint64_t, Account> accounts;
    // Each part's use: requests waiting, messages being read and room set aside.
    std::array<std::size_t, 3> used{};
    std::size_t totalRequests = 0;
    // First come, first served, one line a part, and the line of those at their own bound.
    std::array<Line, 3> lines;
    Line ownLine;
    // Whether the first in each part's line waited for its room at the last look, and since when.
    std::array<bool, 3> wantedBefore{};
    std::array<Clock::time_point, 3> wantedSince{};
    UnsentAnswers unsentAnswers;
    std::atomic<std::size_t> broken{0};
    std::set<std::string> rulesLogged;
};
