// The budget of all clients, without sockets: each row is a sequence of events (a connection
// opens, a read brings bytes, a request is served, a connection leaves, time passes) and what
// every connection is told after it. Small limits: a small client's holding is 160 bytes, an
// opening read 10, a request's overhead 2, a message at most 560; the part kept for starts is 100,
// the one kept for small clients 800, the large part 1130 (two message rooms of 402); a client may
// have 4 requests or 600 bytes waiting, all clients together 8 requests; a client in the middle
// of a message must read 60 bytes in each window of 60 ms while others wait for its room. The
// whole invariant is checked after every event, and no rule may break.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/logCapture.h"
#include "webSocketServer/clientBudget.h"

namespace {

using namespace std::chrono_literals;

// One event: o(pen); r(ead) bytes of a message that goes on; e(nd): a read that ends its
// message; s(erved): that client's oldest request left the queue; x: the connection leaves;
// d: it opens with a reader whose last reference the budget drops when it gives it message room,
// and whose end leaves the budget; w: a window of time passes; u / g: answers of that many bytes
// queued for it / let go; c: its socket closed.
struct Step {
    char event;
    std::string who;
    std::size_t bytes = 0;
};

struct Row {
    const char* what;
    std::vector<Step> steps;
    // Each connection that has not left, in name order: "name:state", with "/part/bytes" when it
    // may read; "name:closed" when the budget told it to close for a stall (it then left).
    const char* told;
    // Optional: "starts small large requests unsent" as counted at the end.
    const char* figures = nullptr;
};

ConnectionSettings tableLimits() {
    ConnectionSettings limits;
    limits.smallClientBytes = 160;
    limits.openingReadBytes = 10;
    limits.requestOverheadBytes = 2;
    limits.messageLimit = 560;
    limits.keptForStartsBytes = 100;
    limits.keptForSmallBytes = 800;
    limits.maxTotalQueuedBytes = 100 + 800 + 1130;
    limits.maxQueuedBytes = 600;
    limits.maxQueuedRequests = 4;
    limits.maxTotalQueuedRequests = 8;
    limits.progressWindow = 60ms;
    limits.minimumRate = 1000;
    limits.maxTotalUnsentBytes = 1000;
    limits.leastClosedForUnsent = 100;
    return limits;
}

const char* partName(Part part) {
    return part == Part::starts ? "starts" : part == Part::small ? "small" : "large";
}

class Budget {
public:
    Budget() : budget(std::make_shared<ClientBudget>(ioc, tableLimits(), [this] { return clock; })) {}

    // Runs one step and everything it posts; no rule may break.
    std::string apply(const Step& step) {
        switch (step.event) {
            case 'o':
            case 'd': open(step.who, step.event == 'd'); break;
            case 'r':
            case 'e': {
                const ReadPermit permit = told.at(step.who);
                if (isWaiting(permit.state) || step.bytes > permit.bytes) return "read more than it was told";
                const bool ended = step.event == 'e';
                // As a connection counts its message's cost, by the part of each permit.
                costIn(cost[step.who], permit.part) += step.bytes + (ended ? tableLimits().requestOverheadBytes : 0);
                QueueShare share = budget->read(ids.at(step.who), ReadDone{step.bytes, ended}, ended ? cost[step.who] : RequestCost{});
                if (ended) {
                    shares[step.who].push_back(std::move(share));
                    cost[step.who] = {};
                }
                break;
            }
            case 's':
                shares.at(step.who).pop_front();
                break;
            case 'x':
                budget->leave(ids.at(step.who));
                told.erase(step.who);
                break;
            case 'w':
                clock += tableLimits().progressWindow + 1ms;
                budget->checkProgress();
                break;
            case 'u': budget->unsent(ids.at(step.who), static_cast<std::ptrdiff_t>(step.bytes)); break;
            case 'g': budget->unsent(ids.at(step.who), -static_cast<std::ptrdiff_t>(step.bytes)); break;
            case 'c': budget->socketClosed(ids.at(step.who)); break;
        }
        ioc.poll();
        ioc.restart();
        if (budget->brokenRules() != 0) return "a rule broke";
        return budget->invariantBroken();
    }

    std::string toldText() const {
        std::ostringstream out;
        for (const auto& [who, permit] : told) {
            if (out.tellp() > 0) out << ' ';
            out << who << ':';
            if (closed.count(who) != 0) {
                out << "closed";
                continue;
            }
            out << readStateName(permit.state);
            if (!isWaiting(permit.state)) out << '/' << partName(permit.part) << '/' << permit.bytes;
        }
        return out.str();
    }

    std::string figures() const {
        std::ostringstream out;
        out << budget->usedBytes(Part::starts) << ' ' << budget->usedBytes(Part::small) << ' '
            << budget->usedBytes(Part::large) << ' ' << budget->queuedRequests() << ' ' << budget->unsentBytes();
        return out.str();
    }

    boost::asio::io_context ioc;
    std::chrono::steady_clock::time_point clock{};
    std::shared_ptr<ClientBudget> budget;
    std::map<std::string, std::uint64_t> ids;
    std::map<std::string, ReadPermit> told;
    std::map<std::string, RequestCost> cost;
    std::map<std::string, std::deque<QueueShare>> shares;
    std::map<std::string, bool> closed;

private:
    class Departing {
    public:
        Departing(ClientBudget* budget, const std::map<std::string, std::uint64_t>* ids, std::string who)
            : budget(budget), ids(ids), who(std::move(who)) {}
        Departing(const Departing&) = delete;
        Departing& operator=(const Departing&) = delete;
        ~Departing() { budget->leave(ids->at(who)); }

    private:
        ClientBudget* budget;
        const std::map<std::string, std::uint64_t>* ids;
        std::string who;
    };

    void open(const std::string& who, bool departing) {
        ClientBudget::Client client;
        if (departing) {
            // Its reader goes away while the budget tells it: it leaves from its destructor.
            auto reader = std::make_shared<Departing>(budget.get(), &ids, who);
            client.permit = [this, who, reader](ReadPermit permit) mutable {
                told[who] = permit;
                if (permit.state != ReadState::readingToEnd) return;
                reader.reset();
                told.erase(who);
            };
        } else {
            client.permit = [this, who](ReadPermit permit) { told[who] = permit; };
        }
        client.closeForStall = [this, who](std::uint64_t) {
            closed[who] = true;
            budget->leave(ids.at(who));
        };
        client.closeForUnsent = [this, who] { closed[who] = true; };
        ids[who] = budget->open(std::move(client));
    }
};

// Two connections that each hold message room with a small client's holding of their message read.
const std::vector<Step> kRoomsTaken = {{'o', "a"}, {'o', "b"}, {'r', "a", 10}, {'r', "a", 150}, {'r', "b", 10},
                                       {'r', "b", 150}};

// A client in the middle of a message, with its opening read done and room for the rest of a
// small client's holding.
std::vector<Step> halfSmall(const char* who) {
    return {{'o', who}, {'r', who, 10}};
}

std::vector<Step> past(const char* who) {
    return {{'o', who}, {'r', who, 10}, {'r', who, 150}};
}

std::vector<Step> after(std::vector<Step> first, const std::vector<Step>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

TEST(ClientBudget, WhoMayReadAfterEachSequenceOfEvents) {
    // A client with its own bound reached while it holds 294 past a small client's holding, then
    // two that take the message room, and one in line for it.
    const std::vector<Step> ownBoundWhileRoomTaken =
        after({{'o', "c"}, {'e', "c", 8}, {'e', "c", 8}, {'r', "c", 10}, {'e', "c", 130}, {'r', "c", 10}, {'e', "c", 140}},
              after(after(past("a"), past("b")), past("d")));
    const Row rows[] = {
        {"a new connection holds room for an opening read", {{'o', "a"}}, "a:reading/starts/10"},
        {"a message longer than its opening read is read on to a small client's holding", halfSmall("a"),
         "a:reading/small/150"},
        {"small requests: an opening read each", {{'o', "a"}, {'e', "a", 8}, {'e', "a", 8}}, "a:reading/starts/10",
         "32 0 0 2 0"},
        {"a message past a small client's holding takes room for the rest of a whole message", past("a"),
         "a:readingToEnd/large/400"},
        {"message room is kept to the message's end", after(past("a"), {{'r', "a", 100}}), "a:readingToEnd/large/300"},
        {"at its end a client past a small holding begins its next message with an opening read of the large part",
         after(past("a"), {{'e', "a", 40}}), "a:reading/large/10"},
        {"... and takes message room once that message goes on", after(past("a"), {{'e', "a", 40}, {'r', "a", 10}}),
         "a:readingToEnd/large/550"},
        {"message room goes first come, first served", after(kRoomsTaken, past("c")),
         "a:readingToEnd/large/400 b:readingToEnd/large/400 c:waitingLarge"},
        {"a small client is read while message room is all taken", after(kRoomsTaken, {{'o', "d"}, {'e', "d", 8}}),
         "a:readingToEnd/large/400 b:readingToEnd/large/400 d:reading/starts/10"},
        {"a waiter gets its message room once there is room, while small requests keep flowing",
         after(after(kRoomsTaken, past("c")), {{'o', "d"}, {'e', "d", 8}, {'e', "a", 400}, {'e', "d", 8}, {'s', "d"},
                                               {'e', "d", 8}, {'s', "a"}}),
         "a:reading/starts/10 b:readingToEnd/large/400 c:readingToEnd/large/400 d:reading/starts/10"},
        {"many waiters: only as many as the room holds are told to read",
         after(after(kRoomsTaken, after(past("c"), after(past("d"), past("e")))), {{'x', "a"}}),
         "b:readingToEnd/large/400 c:readingToEnd/large/400 d:waitingLarge e:waitingLarge"},
        {"one that leaves in the middle of its message gives its room to the next in line",
         after(after(kRoomsTaken, past("c")), {{'x', "b"}}), "a:readingToEnd/large/400 c:readingToEnd/large/400"},
        // Before, the waking loop took the last reference of a waiter under the list's lock, and
        // its destructor took the lock again.
        {"a reader whose last reference goes while the budget tells it: its room passes on",
         after(kRoomsTaken, after({{'d', "c"}, {'r', "c", 10}, {'r', "c", 150}}, after(past("e"), {{'x', "a"}}))),
         "b:readingToEnd/large/400 e:readingToEnd/large/400"},
        {"its own bound: four requests waiting, and no read until half have been served",
         {{'o', "a"}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'s', "a"}}, "a:waitingOwn"},
        {"its own bound cleared at the low mark",
         {{'o', "a"}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'s', "a"}, {'s', "a"}},
         "a:reading/starts/10"},
        // Before, one waiting for its own bound was in no line, and its requests served while the
        // total was full woke it for nothing: it was never read again.
        {"its own bound cleared while others are in line for the large part: it waits in that line",
         after(ownBoundWhileRoomTaken, {{'s', "c"}, {'s', "c"}}),
         "a:readingToEnd/large/400 b:readingToEnd/large/400 c:waitingLarge d:waitingLarge"},
        {"... and reads once there is room, in its turn",
         after(ownBoundWhileRoomTaken, {{'s', "c"}, {'s', "c"}, {'x', "a"}}),
         "b:readingToEnd/large/400 c:reading/large/10 d:readingToEnd/large/400"},
        // The step missing from the drawing before: it holds little again, so it needs another part.
        {"one in line for message room whose requests are served holds little again: it reads on in the small part",
         after(kRoomsTaken, {{'o', "c"}, {'r', "c", 10}, {'e', "c", 150}, {'r', "c", 10}, {'s', "c"}}),
         "a:readingToEnd/large/400 b:readingToEnd/large/400 c:reading/small/150"},
        {"small clients in a message wait only once the part kept for them is full",
         after(after(halfSmall("a"), after(halfSmall("b"), halfSmall("c"))),
               after(after(halfSmall("d"), halfSmall("e")), halfSmall("f"))),
         "a:reading/small/150 b:reading/small/150 c:reading/small/150 d:reading/small/150 e:reading/small/150 "
         "f:waitingSmall"},
        // Before, a waiter was woken only with room for a whole small holding, whatever it needed.
        {"... and one in line is given what it needs as soon as that fits, not a whole holding",
         after(after(halfSmall("a"), after(halfSmall("b"), halfSmall("c"))),
               after(after(halfSmall("d"), halfSmall("e")),
                     {{'o', "f"}, {'e', "f", 8}, {'e', "f", 8}, {'e', "f", 8}, {'r', "f", 10}, {'e', "a", 60}})),
         "a:waitingStart b:reading/small/150 c:reading/small/150 d:reading/small/150 e:reading/small/150 "
         "f:reading/small/120"},
        // Before, what the worker served came out of the part kept for little whatever it had been
        // read with, and the next read of message room took that room back unchecked.
        {"bytes stay in the part they were read with: served requests of one holding message room",
         after({{'o', "a"}, {'r', "a", 10}, {'e', "a", 150}, {'r', "a", 10}, {'r', "a", 100}, {'s', "a"}},
               {{'r', "a", 300}, {'o', "b"}, {'r', "b", 10}, {'r', "b", 150}}),
         "a:readingToEnd/large/150 b:readingToEnd/large/400", "10 150 964 0 0"},
        // Before, an empty message cost nothing.
        {"empty messages cost their overhead: four fill one client's own bound",
         {{'o', "a"}, {'e', "a", 0}, {'e', "a", 0}, {'e', "a", 0}, {'e', "a", 0}}, "a:waitingOwn", "8 0 0 4 0"},
        {"once the queue holds its count of requests, no client begins a message",
         {{'o', "a"}, {'o', "b"}, {'o', "c"}, {'e', "a", 0}, {'e', "a", 0}, {'e', "a", 0}, {'e', "b", 0}, {'e', "b", 0},
          {'e', "b", 0}, {'e', "c", 0}, {'e', "c", 0}},
         "a:reading/starts/10 b:reading/starts/10 c:waitingStart", "40 0 0 8 0"},
        {"... (those already permitted end one each) until it is below its count again",
         {{'o', "a"}, {'o', "b"}, {'o', "c"}, {'e', "a", 0}, {'e', "a", 0}, {'e', "a", 0}, {'e', "b", 0}, {'e', "b", 0},
          {'e', "b", 0}, {'e', "c", 0}, {'e', "c", 0}, {'e', "a", 0}, {'e', "b", 0}, {'s', "c"}, {'s', "a"}, {'s', "b"}},
         "a:waitingOwn b:waitingOwn c:reading/starts/10"},
        // Before, a client that stopped in the middle of a small message kept its room for good.
        {"one that holds room in the middle of a message and sends nothing while others wait for it is closed",
         after(after(halfSmall("a"), after(halfSmall("b"), halfSmall("c"))),
               after(after(halfSmall("d"), halfSmall("e")), {{'o', "f"}, {'r', "f", 10}, {'w', ""}, {'w', ""}})),
         "a:closed b:closed c:closed d:closed e:closed f:reading/small/150"},
        // Before, one in line for message room kept what it had read of the part for little, with
        // no timer: enough of them kept every getter out.
        {"one in line for message room that holds room others wait for is closed as well",
         after(after(kRoomsTaken, after(past("c"), past("d"))),
               after(past("e"), after(halfSmall("f"), {{'w', ""}, {'r', "a", 80}, {'r', "b", 80}, {'w', ""}}))),
         "a:readingToEnd/large/320 b:readingToEnd/large/320 c:closed d:closed e:closed f:reading/small/150"},
        {"nobody is closed for room that nobody waits for, however slowly it is sent",
         after(past("a"), {{'w', ""}, {'r', "a", 1}, {'w', ""}, {'w', ""}}), "a:readingToEnd/large/399"},
        // Before, a whole message had to come within 60 s, and a steady sender alone was cut off.
        {"while others wait, message room is kept by one that reads at least the minimum rate",
         after(after(kRoomsTaken, past("c")), {{'w', ""}, {'r', "a", 80}, {'r', "b", 10}, {'w', ""}, {'r', "a", 80}}),
         "a:readingToEnd/large/240 b:closed c:readingToEnd/large/400"},
        {"one whose message has ended is not closed, however long others wait",
         after(after(kRoomsTaken, past("c")), after({{'e', "a", 10}}, after(past("d"), {{'w', ""}, {'w', ""}}))),
         "a:reading/large/10 b:closed c:closed d:readingToEnd/large/400"},
        // Before, answers left unsent by a client that had left counted no more.
        {"answers left unsent count after their client has left, until they are let go",
         {{'o', "a"}, {'u', "a", 300}, {'x', "a"}, {'c', "a"}}, "", "0 0 0 0 300"},
        {"... and are gone once let go", {{'o', "a"}, {'u', "a", 300}, {'x', "a"}, {'c', "a"}, {'g', "a", 300}}, "",
         "0 0 0 0 0"},
        {"past the total left unsent, the one that leaves the most is closed",
         {{'o', "a"}, {'o', "b"}, {'u', "a", 400}, {'u', "b", 700}}, "a:reading/starts/10 b:closed"},
    };
    for (const Row& row : rows) {
        Budget budget;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const std::string broken = budget.apply(row.steps[i]);
            ASSERT_EQ(broken, "") << row.what << ", after step " << i + 1;
        }
        EXPECT_EQ(budget.toldText(), row.told) << row.what;
        if (row.figures != nullptr) {
            EXPECT_EQ(budget.figures(), row.figures) << row.what;
        }
    }
}

TEST(ClientBudget, ABrokenRuleIsLoggedOnceCountedAndTheBudgetKeepsServing) {
    LogCapture log;
    Budget budget;
    ASSERT_EQ(budget.apply({'o', "a"}), "");
    // A read beyond its permit, twice: a fault of the connection's, which the budget must survive.
    for (int i = 0; i < 2; ++i) {
        budget.budget->read(budget.ids.at("a"), ReadDone{400, false});
        budget.ioc.poll();
        budget.ioc.restart();
    }
    EXPECT_GE(budget.budget->brokenRules(), 2u);
    EXPECT_EQ(log.count("[ERROR]:client budget: a read brought more than its permit"), 1);
    budget.told.clear();
    budget.budget->leave(budget.ids.at("a"));
    budget.ioc.poll();
    budget.ioc.restart();
    ASSERT_EQ(budget.budget->invariantBroken(), "");
    budget.budget->open({[&](ReadPermit permit) { budget.told["b"] = permit; }, {}, {}});
    budget.ioc.poll();
    EXPECT_EQ(budget.toldText(), "b:reading/starts/10");
}

TEST(ClientBudget, LimitsThatCouldNotHoldTheirRulesAreRefusedAtStart) {
    boost::asio::io_context ioc;
    EXPECT_NO_THROW(ClientBudget(ioc, ConnectionSettings{}));
    const struct {
        const char* what;
        void (*change)(ConnectionSettings&);
    } rows[] = {
        // A client could never have a message of its own read whole.
        {"what a client may have waiting is not above the message limit",
         [](ConnectionSettings& s) { s.maxQueuedBytes = s.messageLimit; }},
        {"no whole message fits beside the parts kept for starts and small clients",
         [](ConnectionSettings& s) { s.maxTotalQueuedBytes = s.keptForStartsBytes + s.keptForSmallBytes + s.messageLimit; }},
        {"no small client fits in the part kept for them", [](ConnectionSettings& s) { s.keptForSmallBytes = s.smallClientBytes; }},
        {"an opening read is not below a small client's holding",
         [](ConnectionSettings& s) { s.openingReadBytes = s.smallClientBytes; }},
        {"the least closed for unsent answers is not below their total",
         [](ConnectionSettings& s) { s.maxTotalUnsentBytes = s.leastClosedForUnsent; }},
    };
    for (const auto& row : rows) {
        ConnectionSettings settings;
        row.change(settings);
        EXPECT_THROW(ClientBudget(ioc, settings), std::invalid_argument) << row.what;
    }
}

}  // namespace
