// The service host: the request queue and its worker, the routing of answers and events to the
// current client, and the reaction to a client that drops.
#pragma once

#include <cstdint>
#include <mutex>
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

// Orders tasks by priority alone; a higher number is served first.
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

void pushPrintTask(std::string clientId, std::string message);
void printWorkLoop();
void sendToCurrentClient(std::string text);
void onClientDisconnect();
