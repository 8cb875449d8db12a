// The budget of all clients, without sockets: each row is a sequence of events (a connection
// opens, a read brings bytes, a request leaves the queue, a connection leaves) and what every
// connection is told after it. Small limits: a little is 160 bytes (a first piece 10), a message
// at most 560, the total 1800, of which 1000 are kept for the first little of each client and 800
// hold the rest (two message slots of 400 past a little), and a client may have 4 requests or 600
// bytes waiting. The invariant is checked after every event.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "webSocketServer/clientBudget.h"

namespace {

// One event: o(pen), r(ead) bytes of a message that goes on, e(nd): a read that ends its message,
// l(eft): a whole request of that many bytes left the queue, x: the connection leaves, d: it
// opens with a reader whose last reference the budget drops when it tells it to finish a message,
// and whose end leaves the budget.
struct Step {
    char event;
    std::string who;
    std::size_t bytes = 0;
};

struct Row {
    const char* what;
    std::vector<Step> steps;
    // Each connection that has not left, in name order: "name:state", with "/bytes" when told to read.
    const char* told;
};

ConnectionSettings tableLimits() {
    ConnectionSettings limits;
    limits.littleBytes = 160;
    limits.messageLimit = 560;
    limits.maxTotalQueuedBytes = 1800;
    limits.keptForLittleBytes = 1000;
    limits.maxQueuedBytes = 600;
    limits.maxQueuedRequests = 4;
    return limits;
}

class Budget {
public:
    Budget() : budget(std::make_shared<ClientBudget>(ioc, tableLimits())) {}

    // Runs one step and everything it posts; the invariant must hold after it.
    std::string apply(const Step& step) {
        switch (step.event) {
            case 'o':
            case 'd': {
                ClientBudget::Client client;
                if (step.event == 'd') {
                    // Its reader goes away while the budget tells it: it leaves from its destructor.
                    auto reader = std::make_shared<Departing>(budget.get(), &ids, step.who);
                    client.told = [this, who = step.who, reader](ReadPermit permit) mutable {
                        told[who] = permit;
                        if (permit.state != ReadState::finishing) return;
                        reader.reset();
                        told.erase(who);
                    };
                } else {
                    client.told = [this, who = step.who](ReadPermit permit) { told[who] = permit; };
                }
                client.closeForUnsent = [] {};
                ids[step.who] = budget->open(std::move(client));
                break;
            }
            case 'r':
            case 'e': {
                const ReadPermit permit = told.at(step.who);
                if (isWaiting(permit.state) || step.bytes > permit.bytes) return "read more than it was told";
                budget->read(ids.at(step.who), ReadDone{step.bytes, step.event == 'e'});
                break;
            }
            case 'l':
                budget->gate()->left(ids.at(step.who), step.bytes);
                break;
            case 'x':
                budget->leave(ids.at(step.who));
                told.erase(step.who);
                break;
        }
        ioc.poll();
        ioc.restart();
        return budget->invariantBroken();
    }

    std::string toldText() const {
        std::ostringstream out;
        for (const auto& [who, permit] : told) {
            if (out.tellp() > 0) out << ' ';
            out << who << ':' << readStateName(permit.state);
            if (!isWaiting(permit.state)) out << '/' << permit.bytes;
        }
        return out.str();
    }

    boost::asio::io_context ioc;
    std::shared_ptr<ClientBudget> budget;
    std::map<std::string, std::uint64_t> ids;
    std::map<std::string, ReadPermit> told;

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
};

// Two connections that each hold a slot with a little of their message read: the 800 that slots
// may use.
const std::vector<Step> kSlotsFull = {{'o', "a"}, {'o', "b"}, {'r', "a", 10}, {'r', "a", 150}, {'r', "b", 10},
                                      {'r', "b", 150}};

// A client whose fourth request reaches its own bound while it holds 190, 30 of them past a
// little; then one that takes a slot, and one that waits for the other.
const std::vector<Step> kOwnBoundThenSlotFull = {{'o', "c"},       {'r', "c", 10},  {'e', "c", 150}, {'e', "c", 10},
                                                 {'e', "c", 10},   {'e', "c", 10},  {'o', "a"},      {'r', "a", 10},
                                                 {'r', "a", 150},  {'o', "b"},      {'r', "b", 10},  {'r', "b", 150}};

// A client in the middle of a message, with a little of it read and room for the rest of a little.
std::vector<Step> halfLittle(const char* who) {
    return {{'o', who}, {'r', who, 10}};
}

std::vector<Step> after(std::vector<Step> first, const std::vector<Step>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

TEST(ClientBudget, WhoMayReadAfterEachSequenceOfEvents) {
    const Row rows[] = {
        {"a new connection holds room for a first piece", {{'o', "a"}}, "a:reading/10"},
        {"a message longer than its first piece is read on to a little", {{'o', "a"}, {'r', "a", 10}},
         "a:reading/150"},
        {"small requests: a first piece each", {{'o', "a"}, {'e', "a", 8}, {'e', "a", 8}}, "a:reading/10"},
        {"a message past a little takes a slot worth the rest of a whole message",
         {{'o', "a"}, {'r', "a", 10}, {'r', "a", 150}}, "a:finishing/400"},
        {"a slot is kept to the message's end", {{'o', "a"}, {'r', "a", 10}, {'r', "a", 150}, {'r', "a", 100}},
         "a:finishing/300"},
        // Before, it took a slot at once and was closed as stalling while it simply had nothing to send.
        {"at its end a client past a little waits for its next message with a first piece, not a slot",
         {{'o', "a"}, {'r', "a", 10}, {'r', "a", 150}, {'e', "a", 40}}, "a:reading/10"},
        {"... and takes a slot once that message goes on",
         {{'o', "a"}, {'r', "a", 10}, {'r', "a", 150}, {'e', "a", 40}, {'r', "a", 10}}, "a:finishing/550"},
        {"slots go first come, first served", after(kSlotsFull, {{'o', "c"}, {'r', "c", 10}, {'r', "c", 150}}),
         "a:finishing/400 b:finishing/400 c:waitingSlot"},
        {"one that holds little is read while the slots are full", after(kSlotsFull, {{'o', "d"}, {'e', "d", 8}}),
         "a:finishing/400 b:finishing/400 d:reading/10"},
        // Before, a waiter could read on only while no whole request waited, so clients that kept
        // getters waiting starved it for good.
        {"a waiter gets its slot once there is room, while small requests keep flowing",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 10}, {'r', "c", 150}, {'o', "d"}, {'e', "d", 8}, {'e', "a", 400},
                            {'e', "d", 8}, {'l', "d", 8}, {'e', "d", 8}, {'l', "a", 560}}),
         "a:reading/10 b:finishing/400 c:finishing/400 d:reading/10"},
        // Before, more room than one needed woke every waiter, and each read a piece past the mark.
        {"many waiters: only as many as the room holds are told to read",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 10}, {'r', "c", 150}, {'o', "d"}, {'r', "d", 10}, {'r', "d", 150},
                            {'o', "e"}, {'r', "e", 10}, {'r', "e", 150}, {'x', "a"}}),
         "b:finishing/400 c:finishing/400 d:waitingSlot e:waitingSlot"},
        {"one that leaves in the middle of its message gives its room to the next in line",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 10}, {'r', "c", 150}, {'x', "b"}}), "a:finishing/400 c:finishing/400"},
        // Before, the waking loop took the last reference of a waiter under the list's lock, and
        // its destructor took the lock again.
        {"a reader whose last reference goes while the budget tells it: its room passes on",
         after(kSlotsFull, {{'d', "c"}, {'r', "c", 10}, {'r', "c", 150}, {'o', "e"}, {'r', "e", 10}, {'r', "e", 150},
                            {'x', "a"}}),
         "b:finishing/400 e:finishing/400"},
        {"its own bound: four requests waiting, and no read until half have left",
         {{'o', "a"}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'l', "a", 8}}, "a:waitingOwn"},
        {"its own bound cleared at the low mark",
         {{'o', "a"}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'e', "a", 8}, {'l', "a", 8}, {'l', "a", 8}},
         "a:reading/10"},
        // Before, a connection waiting for its own bound was not on the total's list, and its last
        // request leaving while the total was full woke it for nothing: it was never read again.
        {"its own bound cleared while the part past a little is full: it waits on that list",
         after(kOwnBoundThenSlotFull, {{'l', "c", 10}, {'l', "c", 10}}),
         "a:finishing/400 b:waitingSlot c:waitingSlot"},
        {"... and reads once there is room, in its turn",
         after(kOwnBoundThenSlotFull, {{'l', "c", 10}, {'l', "c", 10}, {'e', "a", 400}, {'l', "a", 560}}),
         "a:reading/10 b:finishing/400 c:reading/10"},
        {"a slot waiter whose own requests leave holds little again and reads a little",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 10}, {'e', "c", 150}, {'l', "c", 160}}),
         "a:finishing/400 b:finishing/400 c:reading/10"},
        {"those that hold little wait only once the room kept for them is full too",
         after(after(after(after(kSlotsFull, halfLittle("c")), halfLittle("d")), halfLittle("e")),
               after(halfLittle("f"), halfLittle("g"))),
         "a:finishing/400 b:finishing/400 c:reading/150 d:reading/150 e:reading/150 f:reading/150 g:waitingRoom"},
        {"... and read once room for a whole little is free, in their turn",
         after(after(after(after(kSlotsFull, halfLittle("c")), halfLittle("d")), halfLittle("e")),
               after(halfLittle("f"), {{'o', "g"}, {'r', "g", 10}, {'e', "c", 50}, {'l', "c", 60}})),
         "a:finishing/400 b:finishing/400 c:waitingRoom d:reading/150 e:reading/150 f:reading/150 g:reading/150"},
    };
    for (const Row& row : rows) {
        Budget budget;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const std::string broken = budget.apply(row.steps[i]);
            ASSERT_EQ(broken, "") << row.what << ", after step " << i + 1;
        }
        EXPECT_EQ(budget.toldText(), row.told) << row.what;
        EXPECT_LE(budget.budget->heldBytes() + budget.budget->reservedBytes(), 1800u) << row.what;
    }
}

}  // namespace

namespace {

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
        {"no whole message fits beside the room kept for little",
         [](ConnectionSettings& s) { s.maxTotalQueuedBytes = s.keptForLittleBytes + s.messageLimit - 1; }},
        {"a little is not below the room kept for it", [](ConnectionSettings& s) { s.littleBytes = s.keptForLittleBytes + 1; }},
        {"a little is not below the total left unread", [](ConnectionSettings& s) { s.maxTotalUnsentBytes = s.littleBytes; }},
    };
    for (const auto& row : rows) {
        ConnectionSettings settings;
        row.change(settings);
        EXPECT_THROW(ClientBudget(ioc, settings), std::invalid_argument) << row.what;
    }
}

}  // namespace
