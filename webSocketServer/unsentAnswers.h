// Answers queued for clients and not yet written: what each client leaves unread, and all of them
// together. A text counts from the moment it is queued until its connection really lets it go
// (written, or released once the client is closed), also after the client has left, so that
// clients that stop reading cannot hold more than the bound between them. Not thread-safe: the
// client budget runs it on its strand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

class UnsentAnswers {
public:
    // Beyond `totalBound`, the client that leaves the most, if that is more than `leastClosed`,
    // is told to close.
    UnsentAnswers(std::size_t totalBound, std::size_t leastClosed);

    void open(std::uint64_t id, std::function<void()> closeForUnsent);
    // Texts queued for that client (positive), or let go (negative); false when more was let go
    // than it held.
    bool changed(std::uint64_t id, std::ptrdiff_t bytes);
    // Its socket is closed: nothing more is queued for it, and it goes once all is let go.
    void socketClosed(std::uint64_t id);

    std::size_t total() const { return totalBytes; }
    std::size_t clients() const { return entries.size(); }
    // Empty while the counts agree, else what is wrong.
    std::string invariantBroken() const;

private:
    struct Entry {
        std::size_t bytes = 0;
        // Told to close: what it leaves is on its way out, so it is not chosen again.
        bool closing = false;
        bool socketClosed = false;
        std::function<void()> closeForUnsent;
    };
    void forget(std::unordered_map<std::uint64_t, Entry>::iterator entry);

    const std::size_t totalBound;
    const std::size_t leastClosed;
    std::unordered_map<std::uint64_t, Entry> entries;
    std::size_t totalBytes = 0;
    // Of the total, what clients told to close still hold.
    std::size_t closingBytes = 0;
};
