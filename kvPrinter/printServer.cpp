#include "kvPrinter/printServer.h"

#include <glog/logging.h>

#include <atomic>
#include <exception>
#include <memory>
#include <utility>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "platform/platform.h"
#include "webSocketServer/connection.h"
#include "webSocketServer/connectionRegistry.h"

namespace {

std::atomic<bool> workerStopRequested{false};

constexpr unsigned kWorkerPassMs = 10;

}  // namespace

void pushPrintTask(std::string clientId, std::string message) {
    PrintTask task;
    // A plain byte search: the word counts wherever it stands, even inside a value.
    task.priority = message.find("stopPrint") != std::string::npos ? 3 : 1;
    task.clientId = std::move(clientId);
    task.message = std::move(message);
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    printTaskQueue.tasks.push(std::move(task));
}

std::optional<PrintTask> takePrintTask() {
    std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
    if (printTaskQueue.tasks.empty()) return std::nullopt;
    PrintTask task = printTaskQueue.tasks.top();
    printTaskQueue.tasks.pop();
    if (task.priority == 3) {
        // A stop overtakes and discards every request waiting now, from every client, unanswered.
        printTaskQueue.tasks = {};
    }
    return task;
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
    while (!workerStopRequested.load()) {
        if (std::optional<PrintTask> task = takePrintTask()) {
            setCurrentClientId(task->clientId);
            // Nothing a request does may end the worker.
            try {
                if (printerService != nullptr) printerService->callPrintApi(std::move(task->message));
            } catch (const std::exception& e) {
                LOG(ERROR) << "[ERROR]:" << "print task exception is " << e.what();
            } catch (...) {
                LOG(ERROR) << "[ERROR]:" << "print task exception is unknown";
            }
        }
        platform::sleepMilliseconds(kWorkerPassMs);
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

void startPrintWorker() {
    workerStopRequested.store(false);
    printWorkThread = std::thread(printWorkLoop);
}

void requestPrintWorkerStop() {
    workerStopRequested.store(true);
}

void stopPrintWorker() {
    requestPrintWorkerStop();
    if (printWorkThread.joinable()) printWorkThread.join();
}

void startService() {
    printerService = new cKvPrinterService();
    startPrintWorker();
}

void stopService() {
    stopPrintWorker();
    {
        std::lock_guard<std::mutex> lock(printTaskQueue.mutex);
        printTaskQueue.tasks = {};
    }
    delete printerService;
    printerService = nullptr;
}
