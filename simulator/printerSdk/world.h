// The simulated printer world behind the stand-in printer SDK: the printers that can be found,
// the connected printer and its settings, what the scenario (KVSIM_SCENARIO) overrides, the
// memory handed out to the caller, and the SDK's own event thread.
#pragma once

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sdk/kvPrinterSdk.h"
#include "simulator/common/recordJson.h"
#include "simulator/common/trace.h"

namespace kvsim {

struct UsbPrinter {
    std::string name;
    int32_t port = 0;
};

struct WifiPrinter {
    std::string ip;
    std::string name;
    int32_t avaliableClient = 0;
    int32_t tcpPort = 9100;
};

struct BluetoothPrinter {
    std::string name;
    std::string mac;
    int32_t rssi = 0;
};

// One page waiting to be printed: a copy of the caller's image and how many copies are left.
struct QueuedPage {
    int jobId = 0;
    int32_t pageNumber = 0;  // within its job, from 1
    int32_t copies = 1;
    int32_t copiesPrinted = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::shared_ptr<const std::vector<unsigned char>> image;
    std::string epc;
};

struct PrintJob {
    bool started = false;  // false: a page committed outside a job, which is a job of its own
    int32_t count = 0;     // pages the job was started for; 0 or less: until endJob
    bool ended = false;
    bool finished = false;  // event 10 raised (or due)
    int32_t committedPages = 0;
    int32_t printedPages = 0;
    double ribbonMm = 0.0;
};

// The printing engine's state (jobs.cpp); guarded by World::mutex.
struct PrintEngine {
    std::map<int, PrintJob> jobs;
    std::deque<QueuedPage> pages;  // in print order
    int openJob = 0;               // the started job that commits go to; 0: none
    int nextJobId = 1;
    bool paused = false;
    bool tickPending = false;  // a print tick is scheduled
    // Bumped by cancel and close: a tick or firmware step scheduled before then does nothing.
    uint64_t generation = 0;
    uint64_t firmwareGeneration = 0;
    int32_t copiesPrinted = 0;  // since initSdk: numbers the output files and finds "printError"'s copy
    bool printErrorRaised = false;
};

class World {
public:
    static World& instance();

    // initSdk: reads KVSIM_SCENARIO, KVSIM_TRACE and KVSIM_OUTPUT, resets the world and starts
    // the event thread. unInitSdk: stops the event thread.
    void start();
    void stop();

    // ---- the scenario (fixed from start() on) ----
    std::vector<UsbPrinter> usbPrinters;
    int usbEmptyScans = 0;
    std::vector<WifiPrinter> wifiPrinters;
    std::vector<BluetoothPrinter> bluetoothPrinters;
    double multiple = 8.0;
    int pageMs = 100;
    Json::Value printError;  // {"atCopy","errorCode","printState"} or null
    std::string outputFolder;

    // A scenario "status" entry for the export, else a failure that "randomFaults" draws for this
    // call, or 0.
    int injectedStatus(const std::string& exportName);
    // The scenario "values" entry for the export, or null.
    Json::Value injectedValue(const std::string& exportName) const;

    // ---- printer state; lock `mutex` to read or change ----
    mutable std::mutex mutex;
    bool connected = false;
    std::string connectedName;
    int usbScans = 0;
    std::map<std::string, int32_t> intValues;    // by getter name: settings and read-only numbers
    std::map<std::string, std::string> texts;    // by getter name
    PrinterTimeInfo clock{};
    std::vector<KeyFunctionInfo> keyFunctions;
    WifiConfigInfo wifiConfig{};
    float tubeAdjustLength = 0.0f;
    SdkEventCallback callback = nullptr;
    PrintEngine printing;

    // ---- memory handed to the caller, which gives it back through freeData ----
    void* handOut(size_t bytes);
    char* handOutText(const std::string& text);
    // True when the pointer was handed out and not yet given back; it is then freed.
    bool takeBack(void* pointer);

    // ---- the event thread ----
    // Runs task on the event thread after delayMs.
    void schedule(int delayMs, std::function<void()> task);
    // Calls the registered callback (on the calling thread; call it from the event thread).
    void raise(int32_t eventType, void* payload);
    // Raises an event described in the scenario's JSON form (type plus payload fields).
    void raiseDescribed(const Json::Value& event);
    // Schedules the scenario events that wait for this export to return.
    void exportReturned(const std::string& exportName);

    TraceWriter trace{"sdk"};

private:
    World() = default;
    void loadScenario(const Json::Value& scenario);
    void resetState();
    void eventLoop();
    // "randomFaults": one event every eventEveryMs while a printer is connected.
    void scheduleRandomEvent();
    void raiseRandomEvent();

    Json::Value statusTable;
    Json::Value valueTable;
    Json::Value delayTable;
    Json::Value scenarioEvents;
    std::vector<bool> scenarioEventScheduled;
    Json::Value randomFaults;  // object or null
    std::mt19937 faultRandom;

    std::set<void*> handedOut;
    std::mutex memoryMutex;

    using Clock = std::chrono::steady_clock;
    std::multimap<Clock::time_point, std::function<void()>> tasks;
    std::mutex taskMutex;
    std::condition_variable taskSignal;
    std::thread eventThread;
    bool stopping = false;

    friend class ExportCall;
};

// Wraps one export call: traces it on entry; on exit applies the scenario delay and schedules the
// scenario events that follow the export.
class ExportCall {
public:
    ExportCall(const char* exportName, Json::Value args);
    ~ExportCall();
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;

    // The scenario's failure code for this export, else -4 while no printer is connected, else 0.
    int printerStatus() const;
    // The scenario's failure code for this export, else 0.
    int injectedStatus() const;

private:
    std::string name_;
};

// The argument list of a trace line.
inline Json::Value traceArgs() { return Json::Value(Json::arrayValue); }
template <typename... T>
Json::Value traceArgs(const T&... values) {
    Json::Value list(Json::arrayValue);
    (list.append(Json::Value(values)), ...);
    return list;
}

// The common shapes of the exports: trace, check the scenario and the connection, answer.
SdkIntResult intGetter(const char* exportName);
// Keeps value under the getter's name.
SdkStatus intSetter(const char* exportName, const char* getterName, int32_t value);
// Text getters hand out their text also when they fail, but for those whose caller takes it only
// on success (`textOnFailure` false).
SdkTextResult textGetter(const char* exportName, bool textOnFailure = true);
SdkStatus action(const char* exportName, Json::Value args);

// Drops every waiting copy and ends every job without event 10 (cancelJob); with
// `firmwareToo` also stops a firmware upgrade (closePrinter). Call with World::mutex held.
void stopPrinting(PrintEngine& engine, bool firmwareToo);

// Copies text into a fixed-width field, zero-filled, at most width - 1 bytes.
void copyField(char* field, size_t width, const std::string& text);

}  // namespace kvsim
