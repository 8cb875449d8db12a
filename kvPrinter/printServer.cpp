#include "kvPrinter/printServer.h"

#include <glog/logging.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <string_view>
#include <functional>
#include <memory>
#include <utility>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "platform/platform.h"
#include "webSocketServer/connection.h"
#include "webSocketServer/connectionRegistry.h"

namespace {

std::atomic<bool> workerStopRequested{false};

constexpr unsigned kWorkerPauseMs = 10;
// From this size on, what a request took is given back to the system once the worker is idle.
constexpr size_t kLargeRequestBytes = 1u << 20;
constexpr std::chrono::milliseconds kIdleBeforeGivingBack{500};
// Clients that keep coming and going never leave half a second of quiet; the memory still goes
// back this long after it was freed.
constexpr std::chrono::milliseconds kLongestBeforeGivingBack{5000};

// Clients that went away and whose job end and printer close are still to be done, on a thread
// of their own so that the network thread never waits for the SDK. Guarded by the queue's mutex.
// Departures are counted; a request remembers how many had been reported when it arrived, and
// the worker takes it only once they are all handled, so that it never meets the printer before
// a departure ahead of it has closed it. Departures that came later do not hold it up: under a
// steady stream of them the worker still takes its requests. Departures that wait together are
// handled as one: the printer ends in the same state.
struct DisconnectWorker {
    std::condition_variable wake;
    uint64_t reported = 0;
    // Departures up to this count are covered by the job end and printer close begun, or done.
    uint64_t begun = 0;
    uint64_t handled = 0;
    bool running = false;
    bool stopping = false;
    std::thread thread;
};

DisconnectWorker& disconnectWorker() {
    static DisconnectWorker worker;
    return worker;
}

// Freed memory that the allocator keeps, to be given back to the system once nothing has
// happened for a while: giving it back holds the one heap, so every thread that allocates waits.
// Guarded by the queue's mutex.
struct MemoryToGiveBack {
    bool pending = false;
    std::chrono::steady_clock::time_point firstNoted;
    std::chrono::steady_clock::time_point lastNoted;
};

MemoryToGiveBack memoryToGiveBack;

// When the worker last took a stop; guarded by the queue's mutex.
std::chrono::steady_clock::time_point lastStopTaken{};

// Under the queue's lock: the next task. A stop moves every waiting task into `discarded`, which
// the caller releases after unlocking.
std::optional<PrintTask> takeNextLocked(std::vector<QueuedPrintTask>& discarded) {
    std::vector<QueuedPrintTask>& tasks = printTaskQueue.tasks;
    if (tasks.empty()) return std::nullopt;
    std::pop_heap(tasks.begin(), tasks.end(), PrintTaskOrder{});
    QueuedPrintTask next = std::move(tasks.back());
    tasks.pop_back();
    // A stop overtakes and discards every request waiting now, from every client, unanswered.
    if (next.task.priority == 3) {
        discarded.swap(tasks);
        lastStopTaken = std::chrono::steady_clock::now();
    }
    return std::move(next.task);
}

// A plain byte search for "stopPrint" (it counts wherever it stands, even inside a value). The
// searcher skips ahead by up to the word's length, which matters in megabytes of base64, where
// its first letter is everywhere.
bool containsStop(const std::string& message) {
    static constexpr std::string_view kStop = "stopPrint";
    static const std::boyer_moore_horspool_searcher searcher(kStop.begin(), kStop.end());
    return std::search(message.begin(), message.end(), searcher) != message.end();
}

// The worker: the next task, once there is one and the departures reported before it arrived are
// handled; nothing once the worker is told to stop. Meanwhile, freed memory goes back to the
// system once neither a request nor a connection has ended for a while (or at the latest a few
// seconds after it was freed): the allocator would keep it for good, and giving it back between
// the requests of a series would only make each of them take it from the system again.
std::optional<PrintTask> waitForPrintTask() {
    std::vector<QueuedPrintTask> discarded;
    std::unique_lock<std::mutex> lock(printTaskQueue.mutex);
    const DisconnectWorker& departures = disconnectWorker();
    const auto ready = [&] {
        return workerStopRequested.load() ||
               (!printTaskQueue.tasks.empty() && printTaskQueue.tasks.front().departuresBefore <= departures.handled);
    };
    while (!ready()) {
        if (!memoryToGiveBack.pending) {
            printTaskQueue.wake.wait(lock);
            continue;
        }
        const auto due = std::min(memoryToGiveBack.lastNoted + kIdleBeforeGivingBack,
                                  memoryToGiveBack.firstNoted + kLongestBeforeGivingBack);
        if (std::chrono::steady_clock::now() < due) {
            printTaskQueue.wake.wait_until(lock, due);
            continue;
        }
        memoryToGiveBack.pending = false;
        lock.unlock();
        platform::releaseFreeMemory();
        lock.lock();
    }
    if (workerStopRequested.load()) return std::nullopt;
    std::optional<PrintTask> task = takeNextLocked(discarded);
    lock.unlock();
    return task;
}

void disconnectLoop() {
    DisconnectWorker& worker = disconnectWorker();
    std::unique_lock<std::mutex> lock(printTaskQueue.mutex);
    for (;;) {
        worker.wake.wait(lock, [&] { return worker.reported > worker.begun || worker.stopping; });
        // Clients that went away before the stop are still handled.
        if (worker.reported == worker.begun) return;
        const uint64_t covered = worker.begun = worker.reported;
        lock.unlock();
        try {
            onClientDisconnect();
        } catch (const std::exception& e) {
            LOG(ERROR) << "[ERROR]:" << "exception is " << e.what();
        }
        lock.lock();
        worker.handled = covered;
        // The worker may take the requests that waited for these.
        printTaskQueue.wake.notify_all();
    }
}

}  // namespace

void pushPrintTask(std::string clientId, std::string message, QueueShare share,
                   std::chrono::steady_clock::time_point begun) {
    QueuedPrintTask queued;
    // A plain byte search: the word counts wherever it stands, even inside a value.
    queued.task.priority = containsStop(message) ? 3 : 1;
    queued.task.clientId = std::move(clientId);
    queued.task.message = std::move(message);
    queued.share = std::move(share);
    {
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        // Begun before the last stop was taken: it was waiting then, half read, and goes unanswered
        // like the others (its share is given back once the lock is released).
        if (begun < lastStopTaken) return;
        queued.sequence = printTaskQueue.nextSequence++;
        queued.departuresBefore = disconnectWorker().reported;
        printTaskQueue.tasks.push_back(std::move(queued));
        std::push_heap(printTaskQueue.tasks.begin(), printTaskQueue.tasks.end(), PrintTaskOrder{});
    }
    printTaskQueue.wake.notify_one();
}

std::optional<PrintTask> takePrintTask() {
    std::vector<QueuedPrintTask> discarded;
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    return takeNextLocked(discarded);
}

std::string getCurrentClientId() {
    std::lock_guard<std::mutex> lock(currentClientIdMutex);
    return currentClientId;
}

void setCurrentClientId(std::string clientId) {
    std::lock_guard<std::mutex> lock(currentClientIdMutex);
    currentClientId = std::move(clientId);
}

void printWorkLoop() {
    while (std::optional<PrintTask> task = waitForPrintTask()) {
        setCurrentClientId(task->clientId);
        const bool large = task->message.size() >= kLargeRequestBytes;
        // Nothing a request does may end the worker.
        try {
            if (printerService != nullptr) printerService->callPrintApi(std::move(task->message));
        } catch (const std::exception& e) {
            LOG(ERROR) << "[ERROR]:" << "print task exception is " << e.what();
        } catch (...) {
            LOG(ERROR) << "[ERROR]:" << "print task exception is unknown";
        }
        if (large) noteMemoryToGiveBack();
        // Two served requests start at least 10 ms apart; an idle worker sleeps until woken.
        platform::sleepMilliseconds(kWorkerPauseMs);
    }
}

void sendToCurrentClient(std::string text) {
    std::shared_ptr<Connection> connection = ConnectionRegistry::getInstance().getConnection(getCurrentClientId());
    if (connection) connection->send(std::move(text));
}

void onClientDisconnect() {
    // Without the SDK there is no job to end and no printer to close.
    if (printerService == nullptr || !printerSdkLoaded()) return;
    printerService->endJobForDisconnect();
    printerService->closePrinterForDisconnect();
}

void queueClientDisconnect() {
    DisconnectWorker& worker = disconnectWorker();
    {
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        if (!worker.running) return;
        ++worker.reported;
    }
    worker.wake.notify_one();
}

void noteMemoryToGiveBack() {
    {
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        const auto now = std::chrono::steady_clock::now();
        if (!memoryToGiveBack.pending) memoryToGiveBack.firstNoted = now;
        memoryToGiveBack.pending = true;
        memoryToGiveBack.lastNoted = now;
    }
    printTaskQueue.wake.notify_one();
}

ConnectionHooks printServerHooks() {
    ConnectionHooks hooks;
    hooks.messageArrived = [](const std::string& clientId, std::string message, QueueShare share,
                              std::chrono::steady_clock::time_point begun) {
        pushPrintTask(clientId, std::move(message), std::move(share), begun);
    };
    hooks.connectionEnded = [](const std::string& /*clientId*/) { queueClientDisconnect(); };
    hooks.memoryReleased = [] { noteMemoryToGiveBack(); };
    return hooks;
}

void startPrintWorker() {
    workerStopRequested.store(false);
    printWorkThread = std::thread(printWorkLoop);
}

void requestPrintWorkerStop() {
    {
        // Under the queue's lock, so that a worker about to wait cannot miss it.
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        workerStopRequested.store(true);
    }
    printTaskQueue.wake.notify_all();
}

void stopPrintWorker() {
    requestPrintWorkerStop();
    if (printWorkThread.joinable()) printWorkThread.join();
}

void startDisconnectWorker() {
    DisconnectWorker& worker = disconnectWorker();
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    if (worker.running) return;
    worker.running = true;
    worker.stopping = false;
    worker.begun = worker.handled = worker.reported;
    worker.thread = std::thread(disconnectLoop);
}

void stopDisconnectWorker() {
    DisconnectWorker& worker = disconnectWorker();
    {
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        if (!worker.running) return;
        worker.running = false;
        worker.stopping = true;
    }
    worker.wake.notify_all();
    worker.thread.join();
}

void startService() {
    printerService = new cKvPrinterService();
    startPrintWorker();
    startDisconnectWorker();
}

void stopService() {
    stopPrintWorker();
    std::vector<QueuedPrintTask> dropped;
    {
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        dropped.swap(printTaskQueue.tasks);
    }
    dropped.clear();
    // The disconnect thread calls into the service: it ends before the service does.
    stopDisconnectWorker();
    delete printerService;
    printerService = nullptr;
}
