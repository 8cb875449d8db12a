#include "webSocketServer/unsentAnswers.h"

#include <utility>

UnsentAnswers::UnsentAnswers(std::size_t totalBound, std::size_t leastClosed)
    : totalBound(totalBound), leastClosed(leastClosed) {}

void UnsentAnswers::open(std::uint64_t id, std::function<void()> closeForUnsent) {
    entries[id].closeForUnsent = std::move(closeForUnsent);
}

bool UnsentAnswers::changed(std::uint64_t id, std::ptrdiff_t bytes) {
    const auto found = entries.find(id);
    if (found == entries.end()) return bytes >= 0;
    Entry& entry = found->second;
    // Never below 0: a count that would go there is a fault of the caller's, not room.
    const std::size_t before = entry.bytes;
    const bool counted = bytes >= 0 || static_cast<std::size_t>(-bytes) <= before;
    entry.bytes = counted ? before + bytes : 0;
    totalBytes = totalBytes - before + entry.bytes;
    if (entry.closing) closingBytes = closingBytes - before + entry.bytes;
    if (entry.socketClosed && entry.bytes == 0) {
        forget(found);
        return counted;
    }
    // Only what is not already on its way out decides.
    if (totalBytes - closingBytes <= totalBound) return counted;
    Entry* largest = nullptr;
    std::size_t most = leastClosed;
    for (auto& [other, candidate] : entries) {
        if (!candidate.closing && candidate.bytes > most) {
            most = candidate.bytes;
            largest = &candidate;
        }
    }
    if (largest == nullptr) return counted;
    largest->closing = true;
    closingBytes += largest->bytes;
    if (largest->closeForUnsent) largest->closeForUnsent();
    return counted;
}

void UnsentAnswers::socketClosed(std::uint64_t id) {
    const auto found = entries.find(id);
    if (found == entries.end()) return;
    found->second.socketClosed = true;
    found->second.closeForUnsent = {};
    if (found->second.bytes == 0) forget(found);
}

void UnsentAnswers::forget(std::unordered_map<std::uint64_t, Entry>::iterator entry) {
    if (entry->second.closing) closingBytes -= entry->second.bytes;
    totalBytes -= entry->second.bytes;
    entries.erase(entry);
}

std::string UnsentAnswers::invariantBroken() const {
    std::size_t total = 0;
    std::size_t closing = 0;
    for (const auto& [id, entry] : entries) {
        total += entry.bytes;
        if (entry.closing) closing += entry.bytes;
    }
    if (total != totalBytes) return "unsent " + std::to_string(totalBytes) + ", clients hold " + std::to_string(total);
    if (closing != closingBytes) {
        return "unsent of closing clients " + std::to_string(closingBytes) + ", they hold " + std::to_string(closing);
    }
    return {};
}
