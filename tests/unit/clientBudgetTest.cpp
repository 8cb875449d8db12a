// The budget of all clients, without sockets: each row is a sequence of events (a connection
// opens, a read brings bytes, a request leaves the queue, a connection leaves) and what every
// connection is told after it. Small limits: a little is 100 bytes, a message at most 400, the
// total 1300, of which 500 are kept for the first little of each client and 800 hold the rest (so
// two message slots), and a client may have 4 requests or 500 bytes waiting. The invariant is
// checked after every event.
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
    limits.littleBytes = 100;
    limits.messageLimit = 400;
    limits.maxTotalQueuedBytes = 1300;
    limits.keptForLittleBytes = 500;
    limits.maxQueuedBytes = 500;
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

// Two connections that each hold a slot with 100 bytes of their message read: 800 of the 800
// that slots may use.
const std::vector<Step> kSlotsFull = {{'o', "a"}, {'o', "b"}, {'r', "a", 100}, {'r', "b", 100}};

// A client with four requests of 50 waiting (its own bound), then two that fill the slots.
const std::vector<Step> kOwnBoundThenSlotsFull = {{'o', "c"}, {'e', "c", 50}, {'e', "c", 50}, {'e', "c", 50},
                                                  {'e', "c", 50}, {'o', "a"}, {'o', "b"}, {'r', "a", 100},
                                                  {'r', "b", 100}};

std::vector<Step> after(std::vector<Step> first, const std::vector<Step>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

TEST(ClientBudget, WhoMayReadAfterEachSequenceOfEvents) {
    const Row rows[] = {
        {"a new connection may read a little", {{'o', "a"}}, "a:reading/100"},
        {"small requests keep it reading a little", {{'o', "a"}, {'e', "a", 30}, {'e', "a", 30}}, "a:reading/40"},
        {"a message past a little takes a slot worth the rest of a whole message", {{'o', "a"}, {'r', "a", 100}},
         "a:finishing/300"},
        {"a slot is kept to the message's end", {{'o', "a"}, {'r', "a", 100}, {'r', "a", 250}}, "a:finishing/50"},
        {"at its end the client holds more than a little: its next message needs a slot as well",
         {{'o', "a"}, {'r', "a", 100}, {'e', "a", 250}}, "a:finishing/400"},
        {"slots go first come, first served", after(kSlotsFull, {{'o', "c"}, {'r', "c", 100}}),
         "a:finishing/300 b:finishing/300 c:waitingSlot"},
        {"one that holds little is read while the slots are full", after(kSlotsFull, {{'o', "d"}, {'e', "d", 20}}),
         "a:finishing/300 b:finishing/300 d:reading/80"},
        // Before, a waiter could read on only while no whole request waited, so clients that kept
        // getters waiting starved it for good.
        {"a waiter gets its slot once there is room, while small requests keep flowing",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 100}, {'o', "d"}, {'e', "d", 20}, {'e', "a", 300},
                            {'e', "d", 20}, {'l', "d", 20}, {'e', "d", 20}, {'l', "a", 400}}),
         "a:reading/100 b:finishing/300 c:finishing/300 d:reading/60"},
        // Before, more room than one needed woke every waiter, and each read a piece past the mark.
        {"many waiters: only as many as the room holds are told to read",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 100}, {'o', "d"}, {'r', "d", 100}, {'o', "e"}, {'r', "e", 100},
                            {'x', "a"}}),
         "b:finishing/300 c:finishing/300 d:waitingSlot e:waitingSlot"},
        {"one that leaves in the middle of its message gives its room to the next in line",
         after(kSlotsFull, {{'o', "c"}, {'r', "c", 100}, {'x', "b"}}), "a:finishing/300 c:finishing/300"},
        // Before, the waking loop took the last reference of a waiter under the list's lock, and
        // its destructor took the lock again.
        {"a reader whose last reference goes while the budget tells it: its room passes on",
         after(kSlotsFull, {{'d', "c"}, {'r', "c", 100}, {'o', "e"}, {'r', "e", 100}, {'x', "a"}}),
         "b:finishing/300 e:finishing/300"},
        {"its own bound: four requests waiting, and no read until half have left",
         {{'o', "a"}, {'e', "a", 10}, {'e', "a", 10}, {'e', "a", 10}, {'e', "a", 10}, {'l', "a", 10}},
         "a:waitingOwn"},
        {"its own bound cleared at the low mark", {{'o', "a"}, {'e', "a", 10}, {'e', "a", 10}, {'e', "a", 10},
                                                   {'e', "a", 10}, {'l', "a", 10}, {'l', "a", 10}},
         "a:reading/80"},
        // Before, a connection waiting for its own bound was not on the total's list, and its last
        // request leaving while the total was full woke it for nothing: it was never read again.
        {"its own bound cleared while the slots are full: it waits for a slot, on that list",
         after(kOwnBoundThenSlotsFull, {{'l', "c", 50}, {'l', "c", 50}}),
         "a:finishing/300 b:finishing/300 c:waitingSlot"},
        {"... and reads once a slot is free",
         after(kOwnBoundThenSlotsFull, {{'l', "c", 50}, {'l', "c", 50}, {'e', "a", 200}, {'l', "a", 300}}),
         "a:reading/100 b:finishing/300 c:finishing/400"},
        {"a slot waiter whose own requests leave holds little again and reads a little",
         after(kSlotsFull, {{'o', "c"}, {'e', "c", 100}, {'l', "c", 100}}), "a:finishing/300 b:finishing/300 c:reading/100"},
        {"those that hold little wait only once the room kept for them is full too",
         after(kSlotsFull, {{'o', "c"}, {'o', "d"}, {'o', "e"}, {'o', "f"}}),
         "a:finishing/300 b:finishing/300 c:reading/100 d:reading/100 e:reading/100 f:waitingRoom"},
        {"... and read once room for a whole little is free",
         after(kSlotsFull, {{'o', "c"}, {'o', "d"}, {'o', "e"}, {'o', "f"}, {'e', "c", 60}, {'e', "d", 60}, {'l', "c", 60}}),
         "a:finishing/300 b:finishing/300 c:waitingRoom d:waitingRoom e:reading/100 f:reading/100"},
    };
    for (const Row& row : rows) {
        Budget budget;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const std::string broken = budget.apply(row.steps[i]);
            ASSERT_EQ(broken, "") << row.what << ", after step " << i + 1;
        }
        EXPECT_EQ(budget.toldText(), row.told) << row.what;
        EXPECT_LE(budget.budget->heldBytes() + budget.budget->reservedBytes(), 1300u) << row.what;
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
