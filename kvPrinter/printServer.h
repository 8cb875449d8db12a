// The service host: the request queue and its worker, the routing of answers and events to the
// current client, and the reaction to a client that drops.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <thread>
#include <vector>

class cKvPrinterService;

struct PrintTask {
    int32_t priority = 1;  // 3 when the text contains "stopPrint"
    std::string clientId;
    std::string message;
};

// Orders tasks by priority alone; a higher number is served first. Tasks of equal priority come
// out in the order of the binary heap, not in their order of arrival (A, B, C, D run A, C, B, D).
struct PrintTaskPriorityLess {
    bool operator()(const PrintTask& a, const PrintTask& b) const { return a.priority < b.priority; }
};

struct PrintTaskQueue {
    std::priority_queue<PrintTask, std::vector<PrintTask>, PrintTaskPriorityLess> tasks;
    std::mutex mutex;
};

// ---- the globals of the service host (defined in globals.cpp, in their start-up order) ----
extern std::string currentClientId;
extern std::mutex currentClientIdMutex;
extern PrintTaskQueue printTaskQueue;
extern cKvPrinterService* printerService;
extern std::thread printWorkThread;

// Network thread: queues a received request (priority 3 when it contains "stopPrint").
void pushPrintTask(std::string clientId, std::string message);
// Takes the highest-priority task; a task of priority 3 also discards every task still waiting.
std::optional<PrintTask> takePrintTask();
// The worker's body: one task per pass, a 10 ms pause after every pass, until stopPrintWorker.
void printWorkLoop();
// Sends an answer or an event to the client of the current request; dropped when it has gone.
void sendToCurrentClient(std::string text);
// Network thread, for any client whose read fails: ends the job and closes the printer.
void onClientDisconnect();

std::string getCurrentClientId();
void setCurrentClientId(std::string clientId);

// Start-up: creates the printer service, then starts the worker.
void startService();
// Shutdown: stops the worker, drops the waiting requests unanswered, deletes the printer service.
void stopService();
// The worker alone (startService and stopService use these; tests use them with their own service).
void startPrintWorker();
// Tells the worker to take no further request; it finishes the one it runs.
void requestPrintWorkerStop();
// Requests the stop and waits for the worker to end.
void stopPrintWorker();
