#include "webSocketServer/clientBudget.h"

#include <glog/logging.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace net = boost::asio;

namespace {

constexpr Part kParts[] = {Part::starts, Part::small, Part::large};

const char* partName(Part part) {
    switch (part) {
        case Part::starts: return "starts";
        case Part::small: return "small";
        case Part::large: return "large";
    }
    return "?";
}

ReadState lineState(Part part) {
    switch (part) {
        case Part::starts: return ReadState::waitingStart;
        case Part::small: return ReadState::waitingSmall;
        case Part::large: break;
    }
    return ReadState::waitingLarge;
}

}  // namespace

void ConnectionSettings::check() const {
    const auto require = [](bool holds, const char* rule) {
        if (!holds) throw std::invalid_argument(std::string("connection settings: ") + rule);
    };
    require(messageLimit > 0, "the message limit is above 0");
    require(maxQueuedBytes > messageLimit + requestOverheadBytes,
            "what a client may have waiting is above the message limit");
    require(maxQueuedRequests >= 2, "a client may have two requests waiting");
    require(maxTotalQueuedRequests >= 1, "all clients together may have a request waiting");
    require(openingReadBytes > 0 && openingReadBytes < smallClientBytes,
            "an opening read is below a small client's holding");
    require(keptForStartsBytes >= openingReadBytes + requestOverheadBytes,
            "the part kept for starts holds an opening read");
    require(keptForSmallBytes >= smallClientBytes + requestOverheadBytes, "the part kept for small clients holds one");
    require(keptForStartsBytes + keptForSmallBytes < maxTotalQueuedBytes &&
                largePartBytes() >= messageLimit + requestOverheadBytes,
            "the total holds a whole message beside the parts kept for starts and small clients");
    require(progressWindow.count() > 0, "the window of progress is above 0");
    require(leastClosedForUnsent < maxTotalUnsentBytes, "the least closed for unsent answers is below their total");
}

// ---- the share of the request queue ------------------------------------------------------------

QueueShare::QueueShare(std::shared_ptr<const ShareReturn> way, std::uint64_t account, RequestCost cost) noexcept
    : way(std::move(way)), account(account), cost(cost) {}

QueueShare::QueueShare(QueueShare&& other) noexcept
    : way(std::move(other.way)), account(other.account), cost(std::exchange(other.cost, {})) {}

QueueShare& QueueShare::operator=(QueueShare&& other) noexcept {
    if (this != &other) {
        giveBack();
        way = std::move(other.way);
        account = other.account;
        cost = std::exchange(other.cost, {});
    }
    return *this;
}

QueueShare::~QueueShare() {
    giveBack();
}

void QueueShare::giveBack() noexcept {
    if (!way) return;
    const std::shared_ptr<const ShareReturn> back = std::move(way);
    try {
        // The budget lives while its loop runs, and the gate closes before the loop goes.
        back->gate->post(back->strand, [budget = back->budget, id = account, given = cost] {
            budget->onStrandNow("served", [&] { budget->served(id, given); });
        });
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "queue share exception is " << e.what();
    }
}

// ---- the budget --------------------------------------------------------------------------------

std::size_t& costIn(RequestCost& cost, Part part) {
    return part == Part::starts ? cost.starts : part == Part::small ? cost.small : cost.large;
}

std::size_t costIn(const RequestCost& cost, Part part) {
    return part == Part::starts ? cost.starts : part == Part::small ? cost.small : cost.large;
}

const char* readStateName(ReadState state) {
    switch (state) {
        case ReadState::reading: return "reading";
        case ReadState::readingToEnd: return "readingToEnd";
        case ReadState::waitingOwn: return "waitingOwn";
        case ReadState::waitingStart: return "waitingStart";
        case ReadState::waitingSmall: return "waitingSmall";
        case ReadState::waitingLarge: return "waitingLarge";
        case ReadState::gone: return "gone";
    }
    return "?";
}

bool isWaiting(ReadState state) {
    return state == ReadState::waitingOwn || state == ReadState::waitingStart || state == ReadState::waitingSmall ||
           state == ReadState::waitingLarge;
}

ClientBudget::ClientBudget(net::io_context& ioc, const ConnectionSettings& limits,
                           std::function<Clock::time_point()> clock)
    : strand(net::make_strand(ioc)),
      settings(limits),
      now(std::move(clock)),
      shareReturn(std::make_shared<const ShareReturn>(ShareReturn{std::make_shared<LoopGate>(), strand, this})),
      sweepTimer(strand),
      unsentAnswers(limits.maxTotalUnsentBytes, limits.leastClosedForUnsent) {
    settings.check();
}

ClientBudget::~ClientBudget() {
    shareReturn->gate->close();
}

void ClientBudget::close() {
    shareReturn->gate->close();
}

template <class Handler>
void ClientBudget::onStrandNow(const char* what, Handler&& handler) {
    // Nothing here may end the loop that serves every client.
    try {
        handler();
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "client budget " << what << " exception is " << e.what();
    }
}

template <class Handler>
void ClientBudget::onStrand(const char* what, Handler&& handler) {
    shareReturn->gate->post(strand, [this, what, handler = std::forward<Handler>(handler)]() mutable {
        onStrandNow(what, handler);
    });
}

std::uint64_t ClientBudget::open(Client client) {
    const std::uint64_t id = nextAccount++;
    onStrand("open", [this, id, client = std::move(client)]() mutable { opened(id, std::move(client)); });
    return id;
}

QueueShare ClientBudget::read(std::uint64_t account, ReadDone done, RequestCost cost) {
    onStrand("read", [this, account, done, cost] { readDone(account, done, cost); });
    // Counted by the read just posted: the share that gives it back exists from the same step.
    if (!done.messageEnded) return {};
    return QueueShare(shareReturn, account, cost);
}

void ClientBudget::checkProgress() {
    onStrand("sweep", [this] { sweep(); });
}

void ClientBudget::leave(std::uint64_t account) {
    onStrand("leave", [this, account] { left(account); });
}

void ClientBudget::unsent(std::uint64_t account, std::ptrdiff_t bytes) {
    onStrand("unsent", [this, account, bytes] {
        if (!unsentAnswers.changed(account, bytes)) brokenRule("answers let go that were not counted");
    });
}

void ClientBudget::socketClosed(std::uint64_t account) {
    onStrand("socket closed", [this, account] { unsentAnswers.socketClosed(account); });
}

void ClientBudget::opened(std::uint64_t id, Client client) {
    Account& account = accounts[id];
    account.client = std::move(client);
    unsentAnswers.open(id, account.client.closeForUnsent);
    decide(id, account);
}

void ClientBudget::readDone(std::uint64_t id, ReadDone done, RequestCost cost) {
    const auto found = accounts.find(id);
    if (found == accounts.end() || found->second.state == ReadState::gone) {
        // A connection reads no more once it has left, so its request would be counted nowhere.
        return brokenRule("a read told after its client left");
    }
    Account& account = found->second;
    if (isWaiting(account.state)) {
        brokenRule("a connection that was told to wait read");
        stopWaiting(account);
    }
    if (done.bytes > account.permitted) brokenRule("a read brought more than its permit");
    const bool toEnd = account.state == ReadState::readingToEnd;
    const Part part = account.grantPart;
    if (!account.inMessage) {
        // A message's progress is measured from its first read on.
        account.inMessage = true;
        account.progressMark = account.bytesRead;
        account.progressSince = now();
    }
    // What was read is held now in the part it was permitted from; the rest of the room is free.
    releaseGrant(account);
    count(part, done.bytes);
    costIn(account.message, part) += done.bytes;
    account.bytesRead += done.bytes;
    if (done.messageEnded) {
        count(part, settings.requestOverheadBytes);
        costIn(account.message, part) += settings.requestOverheadBytes;
        if (account.message.starts != cost.starts || account.message.small != cost.small ||
            account.message.large != cost.large) {
            brokenRule("a request's share differs from what was counted");
        }
        for (Part each : kParts) costIn(account.queued, each) += costIn(account.message, each);
        ++account.queuedRequests;
        ++totalRequests;
        account.message = {};
        account.inMessage = false;
        account.stallTold = false;
        ++account.messagesEnded;
    }
    if (toEnd && !done.messageEnded) {
        // Message room is kept to the message's end: what was read came out of it.
        grant(account, need(account, true));
    } else {
        decide(id, account);
    }
    wakeWaiters();
}

void ClientBudget::served(std::uint64_t id, RequestCost cost) {
    const auto found = accounts.find(id);
    if (found == accounts.end()) return brokenRule("a request served of an account that is not there");
    Account& account = found->second;
    for (Part part : kParts) {
        std::size_t& queued = costIn(account.queued, part);
        const std::size_t bytes = std::min(queued, costIn(cost, part));
        if (bytes != costIn(cost, part)) brokenRule("a request served that its account did not hold");
        queued -= bytes;
        uncount(part, bytes);
    }
    if (account.queuedRequests == 0 || totalRequests == 0) {
        brokenRule("a request served that was not counted");
    } else {
        --account.queuedRequests;
        --totalRequests;
    }
    if (account.state == ReadState::gone) {
        if (account.queuedRequests == 0) accounts.erase(found);
    } else if (account.state == ReadState::waitingOwn) {
        if (ownBelowLowMark(account)) {
            stopWaiting(account);
            decide(id, account);
        }
    } else if (isWaiting(account.state) && lineState(need(account, false).part) != account.state) {
        // It holds less now, so what it needs comes from another part: it waits in that line.
        stopWaiting(account);
        decide(id, account);
    }
    wakeWaiters();
}

void ClientBudget::left(std::uint64_t id) {
    const auto found = accounts.find(id);
    if (found == accounts.end() || found->second.state == ReadState::gone) return;
    Account& account = found->second;
    if (isWaiting(account.state)) stopWaiting(account);
    releaseGrant(account);
    // A message not read to its end goes with the connection; its whole requests still wait and
    // count until they are served.
    for (Part part : kParts) uncount(part, costIn(account.message, part));
    account.message = {};
    account.inMessage = false;
    account.state = ReadState::gone;
    account.client = {};
    if (account.queuedRequests == 0) accounts.erase(found);
    wakeWaiters();
}

void ClientBudget::decide(std::uint64_t id, Account& account) {
    // Its own bound is looked at between messages only: a message begun is read to its end.
    if (!account.inMessage && ownBoundReached(account)) return wait(id, account, ReadState::waitingOwn);
    const Need next = need(account, false);
    if (lineOf(next.part).empty() && fits(next)) return grant(account, next);
    wait(id, account, lineState(next.part));
}

ClientBudget::Need ClientBudget::need(const Account& account, bool toEnd) const {
    const std::size_t holding = account.holding();
    const bool small = holding < settings.smallClientBytes;
    if (!account.inMessage) {
        // One that waits for its next message holds room for an opening read only.
        if (!small) return {ReadState::reading, Part::large, settings.openingReadBytes, true};
        const std::size_t opening = std::min(settings.openingReadBytes, settings.smallClientBytes - holding);
        return {ReadState::reading, Part::starts, opening, true};
    }
    // No read takes a small client past a small client's holding this way.
    if (small && !toEnd) return {ReadState::reading, Part::small, settings.smallClientBytes - holding, false};
    // Never 0, which would read without a limit; a message at the limit fails its next byte.
    const std::size_t read = account.message.total();
    const std::size_t rest = read < settings.messageLimit ? settings.messageLimit - read : 1;
    return {ReadState::readingToEnd, Part::large, rest, false};
}

bool ClientBudget::fits(const Need& next) const {
    // Room for the bytes and a request's overhead, should the read end the message; a message
    // begins only while the queue's count has room.
    if (room(next.part) < next.bytes + settings.requestOverheadBytes) return false;
    return !next.opening || totalRequests < settings.maxTotalQueuedRequests;
}

void ClientBudget::grant(Account& account, const Need& next) {
    account.state = next.state;
    account.grantPart = next.part;
    account.permitted = next.bytes;
    account.granted = next.bytes + settings.requestOverheadBytes;
    count(next.part, account.granted);
    account.client.permit(ReadPermit{next.state, next.part, next.bytes});
}

void ClientBudget::releaseGrant(Account& account) {
    uncount(account.grantPart, account.granted);
    account.granted = 0;
    account.permitted = 0;
}

void ClientBudget::wait(std::uint64_t id, Account& account, ReadState state) {
    account.state = state;
    Line& line = lineOf(state);
    account.place = line.insert(line.end(), id);
    account.client.permit(ReadPermit{state, Part::starts, 0});
    armSweep();
}

void ClientBudget::stopWaiting(Account& account) {
    lineOf(account.state).erase(account.place);
    account.place = {};
}

void ClientBudget::wakeWaiters() {
    for (Part part : kParts) {
        Line& line = lines[index(part)];
        while (!line.empty()) {
            const auto found = accounts.find(line.front());
            if (found == accounts.end()) {
                brokenRule("an account that is not there is in line");
                line.pop_front();
                continue;
            }
            Account& account = found->second;
            const Need next = need(account, false);
            if (!fits(next)) break;
            line.pop_front();
            account.place = {};
            grant(account, next);
        }
    }
}

bool ClientBudget::ownBoundReached(const Account& account) const {
    return account.queued.total() >= settings.maxQueuedBytes || account.queuedRequests >= settings.maxQueuedRequests;
}

bool ClientBudget::ownBelowLowMark(const Account& account) const {
    return account.queued.total() <= settings.maxQueuedBytes / 2 &&
           account.queuedRequests <= settings.maxQueuedRequests / 2;
}

std::size_t ClientBudget::bound(Part part) const {
    switch (part) {
        case Part::starts: return settings.keptForStartsBytes;
        case Part::small: return settings.keptForSmallBytes;
        case Part::large: break;
    }
    return settings.largePartBytes();
}

std::size_t ClientBudget::room(Part part) const {
    const std::size_t use = used[index(part)];
    return use >= bound(part) ? 0 : bound(part) - use;
}

ClientBudget::Line& ClientBudget::lineOf(ReadState state) {
    switch (state) {
        case ReadState::waitingStart: return lines[index(Part::starts)];
        case ReadState::waitingSmall: return lines[index(Part::small)];
        case ReadState::waitingLarge: return lines[index(Part::large)];
        default: return ownLine;
    }
}

ClientBudget::Line& ClientBudget::lineOf(Part part) {
    return lines[index(part)];
}

void ClientBudget::count(Part part, std::size_t bytes) {
    std::size_t& use = used[index(part)];
    use += bytes;
    if (use > bound(part)) brokenRule(std::string("the ") + partName(part) + " part is past its bound");
}

void ClientBudget::uncount(Part part, std::size_t bytes) {
    std::size_t& use = used[index(part)];
    if (bytes > use) {
        brokenRule(std::string("more given back to the ") + partName(part) + " part than it counted");
        use = 0;
        return;
    }
    use -= bytes;
}

void ClientBudget::armSweep() {
    if (sweepArmed) return;
    if (std::all_of(lines.begin(), lines.end(), [](const Line& line) { return line.empty(); })) return;
    sweepArmed = true;
    sweepTimer.expires_after(std::max<Clock::duration>(settings.progressWindow / 10, std::chrono::milliseconds(10)));
    sweepTimer.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        sweepArmed = false;
        onStrandNow("sweep", [this] { sweep(); });
    });
}

void ClientBudget::sweep() {
    const Clock::time_point at = now();
    const std::uint64_t required =
        static_cast<std::uint64_t>(settings.minimumRate) *
        std::chrono::duration_cast<std::chrono::milliseconds>(settings.progressWindow).count() / 1000;
    // A part is wanted when the first in its line waits for its room (not for the queue's count).
    std::array<bool, 3> wanted{};
    for (Part part : kParts) {
        const Line& line = lines[index(part)];
        if (line.empty()) continue;
        const auto first = accounts.find(line.front());
        wanted[index(part)] =
            first != accounts.end() && room(part) < need(first->second, false).bytes + settings.requestOverheadBytes;
    }
    for (Part part : kParts) {
        if (wanted[index(part)] && !wantedBefore[index(part)]) wantedSince[index(part)] = at;
    }
    wantedBefore = wanted;
    for (auto& [id, account] : accounts) {
        if (account.state == ReadState::gone || !account.inMessage || account.stallTold) continue;
        // The parts in which it holds room that others are in line for; its own place in a line
        // is its claim on that part, not room it keeps from the others.
        bool contended = false;
        Clock::time_point since{};
        for (Part part : kParts) {
            const bool holds = costIn(account.message, part) > 0 || (account.granted > 0 && account.grantPart == part);
            if (!holds || !wanted[index(part)] || account.state == lineState(part)) continue;
            contended = true;
            since = std::max(since, wantedSince[index(part)]);
        }
        // Only what it reads while others want its room counts: a window starts when they begin to.
        if (!contended || account.progressSince < since) {
            account.progressMark = account.bytesRead;
            account.progressSince = at;
            continue;
        }
        if (at - account.progressSince < settings.progressWindow) continue;
        if (account.bytesRead - account.progressMark >= std::max<std::uint64_t>(required, 1)) {
            account.progressMark = account.bytesRead;
            account.progressSince = at;
            continue;
        }
        account.stallTold = true;
        if (account.client.closeForStall) account.client.closeForStall(account.messagesEnded);
    }
    const std::string fault = invariantBroken();
    if (!fault.empty()) brokenRule(fault);
    armSweep();
    // Nobody in line: the next wait begins afresh.
    if (!sweepArmed) wantedBefore.fill(false);
}

void ClientBudget::brokenRule(const std::string& rule) {
    ++broken;
    // Once for each rule (the text up to its figures), so that a fault that repeats with every
    // event does not flood the log; the count tells how often.
    const std::string name = rule.substr(0, rule.find_first_of("0123456789"));
    if (rulesLogged.insert(name).second) LOG(ERROR) << "[ERROR]:" << "client budget: " << rule;
}

std::string ClientBudget::invariantBroken() const {
    std::array<std::size_t, 3> counted{};
    std::size_t requests = 0;
    std::size_t waiting = 0;
    for (const auto& [id, account] : accounts) {
        for (Part part : kParts) counted[index(part)] += costIn(account.queued, part) + costIn(account.message, part);
        counted[index(account.grantPart)] += account.granted;
        requests += account.queuedRequests;
        if (isWaiting(account.state)) ++waiting;
        if (isWaiting(account.state) && account.granted != 0) return "account " + std::to_string(id) + " waits with room";
        if (account.state == ReadState::gone && account.queuedRequests == 0) {
            return "account " + std::to_string(id) + " is gone and holds nothing, but is kept";
        }
    }
    std::size_t listed = 0;
    const auto checkLine = [&](const Line& line, ReadState state) -> std::string {
        for (auto place = line.begin(); place != line.end(); ++place) {
            const auto found = accounts.find(*place);
            if (found == accounts.end()) return "an account " + std::to_string(*place) + " that is not there waits";
            if (found->second.state != state || found->second.place != place) {
                return "account " + std::to_string(*place) + " is in the line of " + readStateName(state) + " but " +
                       readStateName(found->second.state);
            }
            ++listed;
        }
        return {};
    };
    for (Part part : kParts) {
        if (std::string fault = checkLine(lines[index(part)], lineState(part)); !fault.empty()) return fault;
    }
    if (std::string fault = checkLine(ownLine, ReadState::waitingOwn); !fault.empty()) return fault;
    // Each listed entry is its account's one place, so equal counts leave no waiter off every line.
    if (listed != waiting) return std::to_string(waiting) + " waiting, " + std::to_string(listed) + " in line";
    for (Part part : kParts) {
        if (counted[index(part)] != used[index(part)]) {
            return std::string("the ") + partName(part) + " part counts " + std::to_string(used[index(part)]) +
                   ", its accounts " + std::to_string(counted[index(part)]);
        }
        if (used[index(part)] > bound(part)) return std::string("the ") + partName(part) + " part is past its bound";
    }
    if (requests != totalRequests) {
        return "requests counted " + std::to_string(totalRequests) + ", accounts hold " + std::to_string(requests);
    }
    return unsentAnswers.invariantBroken();
}
