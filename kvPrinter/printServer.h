// The service host: the request queue and its worker, the routing of answers and events to the
// current client, and the reaction to a client that drops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "webSocketServer/connectionSetup.h"

class cKvPrinterService;

struct PrintTask {
    int32_t priority = 1;  // 3 when the text contains "stopPrint"
    std::string clientId;
    std::string message;
};

// One waiting request: its place in the order of arrival, and its connection's share of the queue,
// given back when the request leaves the queue.
struct QueuedPrintTask {
    PrintTask task;
    uint64_t sequence = 0;
    // The departures reported before it arrived: it is taken only once they are all handled.
    uint64_t departuresBefore = 0;
    QueueShare share;
};

// A higher priority is served first; among equal priorities, the one that arrived first.
struct PrintTaskOrder {
    bool operator()(const QueuedPrintTask& a, const QueuedPrintTask& b) const {
        if (a.task.priority != b.task.priority) return a.task.priority < b.task.priority;
        return a.sequence > b.sequence;
    }
};

struct PrintTaskQueue {
    std::vector<QueuedPrintTask> tasks;  // a binary heap in PrintTaskOrder
    uint64_t nextSequence = 0;
    std::mutex mutex;
    // Wakes the worker when a task arrives or it is told to stop.
    std::condition_variable wake;
};

// ---- the globals of the service host (defined in globals.cpp, in their start-up order) ----
extern std::string currentClientId;
extern std::mutex currentClientIdMutex;
extern PrintTaskQueue printTaskQueue;
extern cKvPrinterService* printerService;
extern std::thread printWorkThread;

// Network thread: queues a received request (priority 3 when it contains "stopPrint"), with its
// connection's share of the queue. A message waits from its first piece on (`begun`): one that
// was still being read when a stop was taken is discarded, as the stop discarded those whole.
void pushPrintTask(std::string clientId, std::string message, QueueShare share = {},
                   std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now());
// Takes the next task, or nothing when none waits; a task of priority 3 also discards every task
// still waiting.
std::optional<PrintTask> takePrintTask();
// The worker's body: waits for a task, runs it, pauses 10 ms after it, until stopPrintWorker.
void printWorkLoop();
// Sends an answer or an event to the client of the current request; dropped when it has gone.
void sendToCurrentClient(std::string text);
// For any client that went away: ends the job and closes the printer. Called on the disconnect
// thread, which alone waits for the SDK.
void onClientDisconnect();
// Network thread: hands a client's going away to the disconnect thread and returns at once. No
// request that arrives after it is taken until the job is ended and the printer closed;
// departures that wait together are handled once. Ignored while that thread does not run.
void queueClientDisconnect();
// Any thread: freed memory is to be given back to the system, which the worker does once neither
// a request nor a connection has ended for half a second, and at the latest 5 s after this.
void noteMemoryToGiveBack();

// The hooks through which the listener hands the host its clients' messages and departures.
ConnectionHooks printServerHooks();

std::string getCurrentClientId();
void setCurrentClientId(std::string clientId);

// Start-up: creates the printer service, then starts the worker and the disconnect thread.
void startService();
// Shutdown: stops the worker, drops the waiting requests unanswered, runs the disconnects still
// waiting and stops their thread, deletes the printer service.
void stopService();
// The worker alone (startService and stopService use these; tests use them with their own service).
void startPrintWorker();
// Tells the worker to take no further request; it finishes the one it runs.
void requestPrintWorkerStop();
// Requests the stop and waits for the worker to end.
void stopPrintWorker();
// The disconnect thread alone.
void startDisconnectWorker();
void stopDisconnectWorker();
