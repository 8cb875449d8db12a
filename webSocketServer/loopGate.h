// The door from other threads to the network loop: open while the loop runs. The listener closes
// it when it goes, before the loop does, so that no thread posts onto a loop that is going away.
#pragma once

#include <boost/asio/post.hpp>

#include <mutex>
#include <utility>

class LoopGate {
public:
    // Posts the handler onto the executor while the gate is open; false once it is closed.
    template <class Executor, class Handler>
    bool post(const Executor& executor, Handler&& handler) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open) return false;
        boost::asio::post(executor, std::forward<Handler>(handler));
        return true;
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        open = false;
    }

private:
    std::mutex mutex;
    bool open = true;
};
