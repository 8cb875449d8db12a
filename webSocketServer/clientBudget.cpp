#include "webSocketServer/clientBudget.h"

#include <glog/logging.h>

#include <algorithm>
#include <cassert>
#include <exception>
#include <stdexcept>

namespace net = boost::asio;

void ConnectionSettings::check() const {
    const auto require = [](bool holds, const char* rule) {
        if (!holds) throw std::invalid_argument(std::string("connection settings: ") + rule);
    };
    require(messageLimit > 0, "the message limit is above 0");
    require(maxQueuedBytes > messageLimit, "what a client may have waiting is above the message limit");
    require(maxQueuedRequests >= 2, "a client may have two requests waiting");
    require(littleBytes > 0 && littleBytes <= keptForLittleBytes, "a little fits in the room kept for little");
    require(keptForLittleBytes < maxTotalQueuedBytes && maxTotalQueuedBytes - keptForLittleBytes >= messageLimit,
            "the total holds a whole message beside the room kept for little");
    require(littleBytes < maxTotalUnsentBytes, "a little is below the total left unread");
}

// ---- the share of the request queue ------------------------------------------------------------

QueueShare::QueueShare(std::shared_ptr<BudgetGate> gate, std::uint64_t account, std::size_t bytes)
    : gate(std::move(gate)), account(account), bytes(bytes) {}

QueueShare::QueueShare(QueueShare&& other) noexcept
    : gate(std::move(other.gate)), account(other.account), bytes(std::exchange(other.bytes, 0)) {}

QueueShare& QueueShare::operator=(QueueShare&& other) noexcept {
    if (this != &other) {
        giveBack();
        gate = std::move(other.gate);
        account = other.account;
        bytes = std::exchange(other.bytes, 0);
    }
    return *this;
}

QueueShare::~QueueShare() {
    giveBack();
}

void QueueShare::giveBack() noexcept {
    if (!gate) return;
    const std::shared_ptr<BudgetGate> door = std::move(gate);
    try {
        door->left(account, bytes);
    } catch (const std::exception& e) {
        LOG(ERROR) << "[ERROR]:" << "queue share exception is " << e.what();
    }
}

// ---- the gate ----------------------------------------------------------------------------------

void BudgetGate::left(std::uint64_t account, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open || budget == nullptr) return;
    budget->onStrand("left", [target = budget, account, bytes] { target->requestLeft(account, bytes); });
}

void BudgetGate::close() {
    std::lock_guard<std::mutex> lock(mutex);
    open = false;
    budget = nullptr;
}

// ---- the budget --------------------------------------------------------------------------------

const char* readStateName(ReadState state) {
    switch (state) {
        case ReadState::reading: return "reading";
        case ReadState::finishing: return "finishing";
        case ReadState::waitingOwn: return "waitingOwn";
        case ReadState::waitingRoom: return "waitingRoom";
        case ReadState::waitingSlot: return "waitingSlot";
        case ReadState::gone: return "gone";
    }
    return "?";
}

ClientBudget::ClientBudget(net::io_context& ioc, const ConnectionSettings& limits)
    : strand(net::make_strand(ioc)), settings(limits), doorway(std::make_shared<BudgetGate>()) {
    settings.check();
    doorway->budget = this;
}

ClientBudget::~ClientBudget() {
    doorway->close();
}

void ClientBudget::close() {
    doorway->close();
}

template <class Handler>
void ClientBudget::onStrand(const char* what, Handler&& handler) {
    net::post(strand, [this, what, handler = std::forward<Handler>(handler)]() mutable {
        // Nothing here may end the loop that serves every client.
        try {
            handler();
        } catch (const std::exception& e) {
            LOG(ERROR) << "[ERROR]:" << "client budget " << what << " exception is " << e.what();
        }
        checked();
    });
}

std::uint64_t ClientBudget::open(Client client) {
    const std::uint64_t id = nextAccount++;
    onStrand("open", [this, id, client = std::move(client)]() mutable { opened(id, std::move(client)); });
    return id;
}

void ClientBudget::read(std::uint64_t account, ReadDone done) {
    onStrand("read", [this, account, done] { readDone(account, done); });
}

void ClientBudget::leave(std::uint64_t account) {
    onStrand("leave", [this, account] { left(account); });
}

void ClientBudget::unsent(std::uint64_t account, std::ptrdiff_t bytes) {
    onStrand("unsent", [this, account, bytes] { unsentChanged(account, bytes); });
}

void ClientBudget::opened(std::uint64_t id, Client client) {
    Account& account = accounts[id];
    account.client = std::move(client);
    decide(id, account);
}

std::size_t ClientBudget::littleShare(const Account& account) const {
    const std::size_t use = account.holds() + (account.state == ReadState::reading ? account.granted : 0);
    return std::min(use, settings.littleBytes);
}

template <class Change>
void ClientBudget::changing(Account& account, Change&& change) {
    littleUse -= littleShare(account);
    change();
    littleUse += littleShare(account);
}

void ClientBudget::readDone(std::uint64_t id, ReadDone done) {
    const auto found = accounts.find(id);
    if (found == accounts.end() || found->second.state == ReadState::gone) return;
    Account& account = found->second;
    // Only a connection that was told to read reads; anything else is a fault of its own.
    assert(!isWaiting(account.state));
    if (isWaiting(account.state)) stopWaiting(account);
    const bool slot = account.state == ReadState::finishing;
    changing(account, [&] {
        // What was read is held now; what was granted and not read is room again.
        reserved -= account.granted;
        account.granted = 0;
        held += done.bytes;
        account.messageBytes += done.bytes;
        if (done.messageEnded) {
            account.queuedBytes += account.messageBytes;
            ++account.queuedRequests;
            account.messageBytes = 0;
        }
    });
    if (slot && !done.messageEnded) {
        // A slot is kept to the message's end.
        grant(account, ReadState::finishing, largeBytes(account));
    } else {
        decide(id, account);
    }
    wakeWaiters();
}

void ClientBudget::requestLeft(std::uint64_t id, std::size_t bytes) {
    const auto found = accounts.find(id);
    assert(found != accounts.end());
    if (found == accounts.end()) return;
    Account& account = found->second;
    changing(account, [&] {
        held -= bytes;
        account.queuedBytes -= bytes;
        --account.queuedRequests;
    });
    if (account.state == ReadState::gone) {
        if (account.queuedRequests == 0) accounts.erase(found);
    } else {
        // Its own requests were what it waited for; or it holds little again, and a client that
        // holds little does not wait for a slot.
        const bool ownCleared = account.state == ReadState::waitingOwn && ownBelowLowMark(account);
        const bool littleAgain = account.state == ReadState::waitingSlot && account.holds() < settings.littleBytes;
        if (ownCleared || littleAgain) {
            stopWaiting(account);
            decide(id, account);
        }
    }
    wakeWaiters();
}

void ClientBudget::left(std::uint64_t id) {
    const auto found = accounts.find(id);
    if (found == accounts.end() || found->second.state == ReadState::gone) return;
    Account& account = found->second;
    if (isWaiting(account.state)) stopWaiting(account);
    changing(account, [&] {
        reserved -= account.granted;
        account.granted = 0;
        // A message not read to its end goes with the connection; its whole requests still wait
        // and count until they leave the queue.
        held -= account.messageBytes;
        account.messageBytes = 0;
        unsentTotal -= account.unsentBytes;
        account.unsentBytes = 0;
        account.state = ReadState::gone;
        account.client = {};
    });
    if (account.queuedRequests == 0) accounts.erase(found);
    wakeWaiters();
}

void ClientBudget::unsentChanged(std::uint64_t id, std::ptrdiff_t bytes) {
    const auto found = accounts.find(id);
    // One that was told to close counts no more: what it leaves unread is being released.
    if (found == accounts.end() || found->second.state == ReadState::gone || found->second.closeTold) return;
    found->second.unsentBytes += bytes;
    unsentTotal += bytes;
    if (unsentTotal <= settings.maxTotalUnsentBytes) return;
    Account* largest = nullptr;
    std::size_t most = settings.littleBytes;
    for (auto& [other, account] : accounts) {
        if (!account.closeTold && account.unsentBytes > most) {
            most = account.unsentBytes;
            largest = &account;
        }
    }
    if (largest == nullptr) return;
    largest->closeTold = true;
    unsentTotal -= largest->unsentBytes;
    largest->unsentBytes = 0;
    largest->client.closeForUnsent();
}

void ClientBudget::decide(std::uint64_t id, Account& account) {
    const bool messageBegun = account.messageBytes > 0;
    // Its own bound is looked at between messages only: a message begun is read to its end.
    if (!messageBegun && ownBoundReached(account)) return wait(id, account, ReadState::waitingOwn);
    if (account.holds() < settings.littleBytes) {
        const std::size_t bytes = littleBytes(account);
        if (roomWaiters.empty() && littleRoom() >= bytes) return grant(account, ReadState::reading, bytes);
        return wait(id, account, ReadState::waitingRoom);
    }
    if (slotWaiters.empty() && slotRoom() >= largeBytes(account)) return grantLarge(account);
    wait(id, account, ReadState::waitingSlot);
}

void ClientBudget::grantLarge(Account& account) {
    // Past a little, a message's first piece is read with room for that piece; once it goes on,
    // room for the whole message is taken before a byte more is read: a slot, kept to its end.
    if (account.messageBytes == 0) return grant(account, ReadState::reading, firstPiece());
    grant(account, ReadState::finishing, largeBytes(account));
}

void ClientBudget::grant(Account& account, ReadState state, std::size_t bytes) {
    changing(account, [&] {
        account.state = state;
        account.granted = bytes;
        reserved += bytes;
    });
    account.client.told(ReadPermit{state, bytes});
}

void ClientBudget::wait(std::uint64_t id, Account& account, ReadState state) {
    changing(account, [&] { account.state = state; });
    std::list<std::uint64_t>& line = listOf(state);
    account.place = line.insert(line.end(), id);
    account.client.told(ReadPermit{state, 0});
}

void ClientBudget::stopWaiting(Account& account) {
    listOf(account.state).erase(account.place);
    account.place = {};
}

void ClientBudget::wakeWaiters() {
    // A wait ends with room for a whole little, or a whole message: not one byte under the mark.
    while (!roomWaiters.empty() && littleRoom() >= settings.littleBytes) {
        Account& account = accounts.at(roomWaiters.front());
        roomWaiters.pop_front();
        grant(account, ReadState::reading, littleBytes(account));
    }
    while (!slotWaiters.empty()) {
        Account& account = accounts.at(slotWaiters.front());
        if (slotRoom() < largeBytes(account)) break;
        slotWaiters.pop_front();
        grantLarge(account);
    }
}

bool ClientBudget::ownBoundReached(const Account& account) const {
    return account.queuedBytes >= settings.maxQueuedBytes || account.queuedRequests >= settings.maxQueuedRequests;
}

bool ClientBudget::ownBelowLowMark(const Account& account) const {
    return account.queuedBytes <= settings.maxQueuedBytes / 2 && account.queuedRequests <= settings.maxQueuedRequests / 2;
}

std::size_t ClientBudget::littleRoom() const {
    return littleUse >= settings.keptForLittleBytes ? 0 : settings.keptForLittleBytes - littleUse;
}

std::size_t ClientBudget::slotRoom() const {
    const std::size_t used = held + reserved - littleUse;
    const std::size_t part = settings.maxTotalQueuedBytes - settings.keptForLittleBytes;
    return used >= part ? 0 : part - used;
}

std::size_t ClientBudget::littleBytes(const Account& account) const {
    // No read takes a client past a little this way, so that each holds no more; one that waits
    // for its next message holds room for a first piece only.
    const std::size_t room = settings.littleBytes - account.holds();
    return account.messageBytes > 0 ? room : std::min(firstPiece(), room);
}

std::size_t ClientBudget::largeBytes(const Account& account) const {
    if (account.messageBytes == 0) return firstPiece();
    // Never 0, which would read without a limit; a message at the limit fails its next byte.
    return account.messageBytes < settings.messageLimit ? settings.messageLimit - account.messageBytes : 1;
}

std::size_t ClientBudget::firstPiece() const {
    return std::max<std::size_t>(1, settings.littleBytes / 16);
}

std::list<std::uint64_t>& ClientBudget::listOf(ReadState state) {
    switch (state) {
        case ReadState::waitingOwn: return ownWaiters;
        case ReadState::waitingRoom: return roomWaiters;
        default: return slotWaiters;
    }
}

std::string ClientBudget::invariantBroken() const {
    std::size_t waiting = 0;
    std::size_t holds = 0;
    std::size_t granted = 0;
    std::size_t little = 0;
    std::size_t unsentBytes = 0;
    for (const auto& [id, account] : accounts) {
        if (isWaiting(account.state)) ++waiting;
        holds += account.holds();
        granted += account.granted;
        little += littleShare(account);
        unsentBytes += account.unsentBytes;
        if (isWaiting(account.state) && account.granted != 0) return "account " + std::to_string(id) + " waits with room";
    }
    const std::pair<const std::list<std::uint64_t>*, ReadState> lines[] = {
        {&ownWaiters, ReadState::waitingOwn}, {&roomWaiters, ReadState::waitingRoom}, {&slotWaiters, ReadState::waitingSlot}};
    std::size_t listed = 0;
    for (const auto& [line, state] : lines) {
        for (auto place = line->begin(); place != line->end(); ++place) {
            const auto found = accounts.find(*place);
            if (found == accounts.end()) return "an account " + std::to_string(*place) + " that is not there waits";
            if (found->second.state != state || found->second.place != place) {
                return "account " + std::to_string(*place) + " is on the list of " + readStateName(state) +
                       " but " + readStateName(found->second.state);
            }
            ++listed;
        }
    }
    // Each listed entry is its account's one place, so equal counts leave no waiter off every list.
    if (listed != waiting) return std::to_string(waiting) + " waiting, " + std::to_string(listed) + " listed";
    if (holds != held) return "held " + std::to_string(held) + ", accounts hold " + std::to_string(holds);
    if (granted != reserved) return "reserved " + std::to_string(reserved) + ", granted " + std::to_string(granted);
    if (little != littleUse) return "little use " + std::to_string(littleUse) + ", shares " + std::to_string(little);
    if (littleUse > settings.keptForLittleBytes) return "little use " + std::to_string(littleUse) + " past its part";
    if (held + reserved - littleUse > settings.maxTotalQueuedBytes - settings.keptForLittleBytes) {
        return "held " + std::to_string(held) + " and reserved " + std::to_string(reserved) + " exceed the total";
    }
    if (unsentBytes != unsentTotal) return "unsent " + std::to_string(unsentTotal) + ", counted " + std::to_string(unsentBytes);
    return {};
}

void ClientBudget::checked() const {
#ifndef NDEBUG
    const std::string broken = invariantBroken();
    if (!broken.empty()) LOG(FATAL) << "[ERROR]:" << "client budget: " << broken;
#endif
}
