// The entry point: the printer service and the worker first, then the network side on the main
// thread until it stops; every way out ends the worker in order and returns 1.
#include <boost/asio/io_context.hpp>
#include <glog/logging.h>

#include <exception>

#include "kvPrinter/printServer.h"
#include "platform/platform.h"
#include "webSocketServer/connectionRegistry.h"
#include "webSocketServer/webSocketServer.h"

namespace {

constexpr int kServicePort = 37989;

// Destroyed just before the event loop, after the listener has closed the gate to the loop: from
// then on no request is taken, and no connection outlives the loop.
struct NetworkShutdown {
    NetworkShutdown() = default;
    NetworkShutdown(const NetworkShutdown&) = delete;
    NetworkShutdown& operator=(const NetworkShutdown&) = delete;
    ~NetworkShutdown() {
        requestPrintWorkerStop();
        ConnectionRegistry::getInstance().removeAll();
    }
};

}  // namespace

int main() {
    // Every client holds a descriptor; the soft limit is often far below what the system allows.
    platform::raiseDescriptorLimit();
    // Before the first thread: the printer SDK, the worker and the network all share one heap.
    platform::useOneHeap();
    try {
        // Inside the guarded block: a worker that cannot be started also ends here, with 1.
        startService();
        boost::asio::io_context ioc;
        NetworkShutdown shutdown;
        WebSocketServer server(ioc, kServicePort, printServerHooks());
        server.start();
        ioc.run();
    } catch (const std::exception& e) {
        const unsigned long lastError = platform::lastErrorCode();
        LOG(ERROR) << "[ERROR]:" << e.what();
        LOG(ERROR) << "[ERROR]:" << lastError;
    }
    stopService();
    return 1;
}
