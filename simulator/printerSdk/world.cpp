#include "simulator/printerSdk/world.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

namespace kvsim {

namespace {

// Numbers that a getter answers until a setter or the scenario changes them.
const std::map<std::string, int32_t>& defaultIntValues() {
    static const std::map<std::string, int32_t> values = {
        {"getPrintMode", 1},        {"getPrintDensity", 8},        {"getLabelType", 1},
        {"getPrintSpeed", 3},       {"getLanguageType", 1},        {"getAutoShutDownTime", 30},
        {"getDeviceVoice", 2},      {"getHalfCut", 5},             {"getElectricity", 80},
        {"getColorSupport", 1},     {"getPrintQualitySupport", 3}, {"getPrinterType", 3},
        {"getAreaCode", 86},        {"getPrintLastError", 0},      {"getPrintQuality", 0},
        {"getTubeInfo", 0},
    };
    return values;
}

const std::map<std::string, std::string>& defaultTexts() {
    static const std::map<std::string, std::string> texts = {
        {"getDeviceSn", "KV2026000001"},
        {"getSoftWareVersion", "1.2.0"},
        {"getHardWareVersion", "2.0"},
        {"getPrinterLog", "2026-01-01 08:00:00 power on"},
        {"getSdkVersion", "V2.1.0"},
        {"getAntiCounterfeiKey", "KV-ANTI-0001"},
        {"getPrinterHighLevelInfo", "{\"capStatus\":0,\"paperStatus\":0,\"power\":80}"},
    };
    return texts;
}

Json::Value readScenarioFile() {
    const char* path = std::getenv("KVSIM_SCENARIO");
    if (path == nullptr || path[0] == '\0') return Json::Value(Json::objectValue);
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    Json::Value scenario;
    Json::Reader reader;
    if (!reader.parse(content.str(), scenario) || !scenario.isObject()) {
        return Json::Value(Json::objectValue);
    }
    return scenario;
}

int32_t intOf(const Json::Value& object, const char* key, int32_t fallback) {
    const Json::Value& value = object[key];
    return value.isInt() ? value.asInt() : fallback;
}

int32_t intOf(const Json::Value& list, Json::ArrayIndex index, int32_t fallback) {
    const Json::Value& value = list[index];
    return value.isInt() ? value.asInt() : fallback;
}

std::string textOf(const Json::Value& object, const char* key, const std::string& fallback) {
    const Json::Value& value = object[key];
    return value.isString() ? value.asString() : fallback;
}

}  // namespace

World& World::instance() {
    static World world;
    return world;
}

void World::start() {
    stop();
    trace.openFromEnvironment();
    const char* output = std::getenv("KVSIM_OUTPUT");
    outputFolder = output != nullptr ? output : "";
    {
        std::lock_guard<std::mutex> lock(mutex);
        loadScenario(readScenarioFile());
        resetState();
    }
    {
        std::lock_guard<std::mutex> lock(taskMutex);
        stopping = false;
        tasks.clear();
    }
    eventThread = std::thread([this] { eventLoop(); });
    scheduleRandomEvent();
}

void World::stop() {
    {
        std::lock_guard<std::mutex> lock(taskMutex);
        stopping = true;
    }
    taskSignal.notify_all();
    if (eventThread.joinable()) eventThread.join();
}

void World::loadScenario(const Json::Value& scenario) {
    usbPrinters.clear();
    wifiPrinters.clear();
    bluetoothPrinters.clear();
    if (scenario.isMember("usbPrinters") && scenario["usbPrinters"].isArray()) {
        for (const Json::Value& p : scenario["usbPrinters"]) {
            if (p.isObject()) usbPrinters.push_back({textOf(p, "name", ""), intOf(p, "port", 0)});
        }
    } else {
        usbPrinters.push_back({"KV-USB-01", 1});
    }
    if (scenario.isMember("wifiPrinters") && scenario["wifiPrinters"].isArray()) {
        for (const Json::Value& p : scenario["wifiPrinters"]) {
            if (!p.isObject()) continue;
            wifiPrinters.push_back({textOf(p, "ip", ""), textOf(p, "name", ""),
                                    intOf(p, "avaliableClient", 0), intOf(p, "tcpPort", 9100)});
        }
    } else {
        wifiPrinters.push_back({"192.168.1.50", "KV-WIFI-01", 1, 9100});
    }
    if (scenario.isMember("bluetoothPrinters") && scenario["bluetoothPrinters"].isArray()) {
        for (const Json::Value& p : scenario["bluetoothPrinters"]) {
            if (!p.isObject()) continue;
            bluetoothPrinters.push_back({textOf(p, "name", ""), textOf(p, "mac", ""), intOf(p, "rssi", 0)});
        }
    } else {
        bluetoothPrinters.push_back({"KV-BT-01", "00:11:22:33:44:55", -60});
    }
    usbEmptyScans = intOf(scenario, "usbEmptyScans", 0);
    multiple = scenario["multiple"].isNumeric() ? scenario["multiple"].asDouble() : 8.0;
    pageMs = intOf(scenario, "pageMs", 100);
    printError = scenario["printError"].isObject() ? scenario["printError"] : Json::Value();
    statusTable = scenario["status"].isObject() ? scenario["status"] : Json::Value(Json::objectValue);
    valueTable = scenario["values"].isObject() ? scenario["values"] : Json::Value(Json::objectValue);
    delayTable = scenario["delayMs"].isObject() ? scenario["delayMs"] : Json::Value(Json::objectValue);
    scenarioEvents = scenario["events"].isArray() ? scenario["events"] : Json::Value(Json::arrayValue);
    scenarioEventScheduled.assign(scenarioEvents.size(), false);
    randomFaults = scenario["randomFaults"].isObject() ? scenario["randomFaults"] : Json::Value();
    faultRandom.seed(static_cast<std::mt19937::result_type>(intOf(randomFaults, "seed", 1)));
}

void World::resetState() {
    connected = false;
    connectedName.clear();
    usbScans = 0;
    callback = nullptr;
    intValues = defaultIntValues();
    texts = defaultTexts();
    for (const std::string& name : valueTable.getMemberNames()) {
        const Json::Value& value = std::as_const(valueTable)[name];
        if (intValues.count(name) != 0 && value.isInt()) intValues[name] = value.asInt();
        if (texts.count(name) != 0 && value.isString()) texts[name] = value.asString();
    }

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    clock = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    keyFunctions = {{0, 1}, {1, 2}};
    wifiConfig = WifiConfigInfo{};
    copyField(wifiConfig.wifiName, sizeof wifiConfig.wifiName, "KV-Office");
    const Json::Value& wifiName = std::as_const(valueTable)["getDeviceWifi"];
    if (wifiName.isString()) copyField(wifiConfig.wifiName, sizeof wifiConfig.wifiName, wifiName.asString());
    tubeAdjustLength = 0.0f;
    // Generations only grow, so nothing scheduled for an earlier world can act on this one.
    PrintEngine fresh;
    fresh.generation = printing.generation + 1;
    fresh.firmwareGeneration = printing.firmwareGeneration + 1;
    printing = std::move(fresh);
}

int World::injectedStatus(const std::string& exportName) {
    const Json::Value& value = statusTable[exportName];  // const: never inserts
    if (value.isInt()) return value.asInt();
    if (randomFaults.isNull()) return 0;

    const Json::Value& faults = std::as_const(randomFaults);
    const Json::Value& exports = faults["exports"];
    if (exports.isArray()) {
        bool listed = false;
        for (const Json::Value& name : exports) listed = listed || name.asString() == exportName;
        if (!listed) return 0;
    }
    const Json::Value& codes = faults["codes"];
    const int percent = intOf(randomFaults, "failPercent", 0);
    if (percent <= 0 || !codes.isArray() || codes.empty()) return 0;
    if (static_cast<int>(faultRandom() % 100) >= percent) return 0;
    const Json::Value& code = codes[static_cast<Json::ArrayIndex>(faultRandom() % codes.size())];
    const int status = code.isInt() ? code.asInt() : -1;
    trace.write("randomFault", traceArgs(exportName, status));
    return status;
}

void World::scheduleRandomEvent() {
    const int every = intOf(randomFaults, "eventEveryMs", 0);
    if (every > 0) schedule(every, [this] { raiseRandomEvent(); });
}

void World::raiseRandomEvent() {
    Json::Value event;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (connected) {
            const Json::Value& types = std::as_const(randomFaults)["eventTypes"];
            static const int32_t kDefaultTypes[] = {2, 3, 4, 5, 6, 7, 8, 9, 10};
            int32_t type = kDefaultTypes[faultRandom() % std::size(kDefaultTypes)];
            if (types.isArray() && !types.empty()) {
                type = intOf(types, static_cast<Json::ArrayIndex>(faultRandom() % types.size()), 0);
            }
            const int32_t value = static_cast<int32_t>(faultRandom() % 4);
            event["type"] = type;
            event["value"] = value;
            event["copies"] = value + 1;
            event["errorCode"] = value + 1;
            event["printState"] = value == 0 ? 1 : 2;
        }
    }
    if (event.isObject()) {
        trace.write("randomEvent", traceArgs(event["type"].asInt()));
        raiseDescribed(event);
    }
    scheduleRandomEvent();
}

Json::Value World::injectedValue(const std::string& exportName) const {
    std::lock_guard<std::mutex> lock(mutex);
    return std::as_const(valueTable)[exportName];
}

void* World::handOut(size_t bytes) {
    void* memory = std::calloc(bytes == 0 ? 1 : bytes, 1);
    std::lock_guard<std::mutex> lock(memoryMutex);
    handedOut.insert(memory);
    return memory;
}

char* World::handOutText(const std::string& text) {
    char* memory = static_cast<char*>(handOut(text.size() + 1));
    std::memcpy(memory, text.data(), text.size());
    return memory;
}

bool World::takeBack(void* pointer) {
    {
        std::lock_guard<std::mutex> lock(memoryMutex);
        if (pointer == nullptr || handedOut.erase(pointer) == 0) return false;
    }
    std::free(pointer);
    return true;
}

void World::schedule(int delayMs, std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(taskMutex);
        if (!eventThread.joinable() || stopping) return;
        tasks.emplace(Clock::now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs), std::move(task));
    }
    taskSignal.notify_all();
}

void World::eventLoop() {
    std::unique_lock<std::mutex> lock(taskMutex);
    while (!stopping) {
        if (tasks.empty()) {
            taskSignal.wait(lock);
            continue;
        }
        const auto due = tasks.begin()->first;
        if (Clock::now() < due) {
            taskSignal.wait_until(lock, due);
            continue;
        }
        std::function<void()> task = std::move(tasks.begin()->second);
        tasks.erase(tasks.begin());
        // Never hold the lock while calling out: the task may schedule more.
        lock.unlock();
        task();
        lock.lock();
    }
}

void World::raise(int32_t eventType, void* payload) {
    SdkEventCallback target;
    {
        std::lock_guard<std::mutex> lock(mutex);
        target = callback;
    }
    if (target != nullptr) target(payload, eventType);
}

void World::raiseDescribed(const Json::Value& event) {
    const int32_t type = intOf(event, "type", 0);
    switch (type) {
        case 2: case 3: case 4: case 5: case 6: case 7: {
            StatusValueInfo info{intOf(event, "value", 0), 0};
            raise(type, &info);
            break;
        }
        case 8: {
            PrintProgressInfo info{};
            info.page = intOf(event, "page", 1);
            info.copies = intOf(event, "copies", 1);
            info.ribbonLengthUsed = event["ribbonLengthUsed"].isNumeric() ? event["ribbonLengthUsed"].asDouble() : 0.0;
            info.waitTime = intOf(event, "waitTime", 0);
            copyField(info.epc, sizeof info.epc, textOf(event, "epc", ""));
            raise(type, &info);
            break;
        }
        case 9: {
            PrintErrorInfo info{intOf(event, "errorCode", 0), intOf(event, "printState", 0), 0};
            raise(type, &info);
            break;
        }
        case 15: {
            FirmwareProgressInfo info{intOf(event, "progress", 0), intOf(event, "errorCode", 0), 0};
            raise(type, &info);
            break;
        }
        default: {
            // Events 1 and 10 carry nothing; other types get a zeroed block to read.
            unsigned char nothing[256] = {};
            raise(type, nothing);
            break;
        }
    }
}

void World::exportReturned(const std::string& exportName) {
    std::vector<Json::Value> due;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (Json::ArrayIndex i = 0; i < scenarioEvents.size(); ++i) {
            const Json::Value& event = scenarioEvents[i];
            if (scenarioEventScheduled[i] || !event.isObject() || textOf(event, "after", "") != exportName) continue;
            scenarioEventScheduled[i] = true;
            due.push_back(event);
        }
    }
    for (const Json::Value& event : due) {
        schedule(intOf(event, "delayMs", 0), [this, event] { raiseDescribed(event); });
    }
}

// ---- ExportCall ----------------------------------------------------------------------------

ExportCall::ExportCall(const char* exportName, Json::Value args) : name_(exportName) {
    World::instance().trace.write(exportName, args);
}

ExportCall::~ExportCall() {
    World& world = World::instance();
    int delay = 0;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        const Json::Value& entry = std::as_const(world.delayTable)[name_];
        delay = entry.isInt() ? entry.asInt() : 0;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    world.exportReturned(name_);
}

int ExportCall::injectedStatus() const {
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    return world.injectedStatus(name_);
}

int ExportCall::printerStatus() const {
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    const int injected = world.injectedStatus(name_);
    if (injected != 0) return injected;
    return world.connected ? 0 : -4;
}

// ---- the common shapes of the exports -------------------------------------------------------

SdkIntResult intGetter(const char* exportName) {
    ExportCall call(exportName, traceArgs());
    if (const int status = call.printerStatus()) return {-1, status};
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    return {world.intValues[exportName], 0};
}

SdkStatus intSetter(const char* exportName, const char* getterName, int32_t value) {
    ExportCall call(exportName, traceArgs(value));
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.intValues[getterName] = value;
    return 0;
}

SdkTextResult textGetter(const char* exportName, bool textOnFailure) {
    ExportCall call(exportName, traceArgs());
    const int status = call.printerStatus();
    if (status != 0 && !textOnFailure) return {nullptr, status};
    World& world = World::instance();
    std::string text;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        text = world.texts[exportName];
    }
    return {world.handOutText(text), status};
}

SdkStatus action(const char* exportName, Json::Value args) {
    ExportCall call(exportName, std::move(args));
    return call.printerStatus();
}

void copyField(char* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

}  // namespace kvsim
