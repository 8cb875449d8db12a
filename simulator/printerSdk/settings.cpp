// Print and device settings: kept in the world while the printer is connected.
#include <cstring>

#include "simulator/printerSdk/exports.h"
#include "simulator/printerSdk/world.h"

using kvsim::ExportCall;
using kvsim::traceArgs;
using kvsim::World;

SdkIntResult getPrintMode() { return kvsim::intGetter("getPrintMode"); }
SdkStatus setPrintMode(int32_t mode) { return kvsim::intSetter("setPrintMode", "getPrintMode", mode); }
SdkIntResult getPrintDensity() { return kvsim::intGetter("getPrintDensity"); }
SdkStatus setPrintDensity(int32_t density) {
    return kvsim::intSetter("setPrintDensity", "getPrintDensity", density);
}
SdkIntResult getLabelType() { return kvsim::intGetter("getLabelType"); }
SdkStatus setLabelType(int32_t labelType) { return kvsim::intSetter("setLabelType", "getLabelType", labelType); }
SdkIntResult getPrintSpeed() { return kvsim::intGetter("getPrintSpeed"); }
SdkStatus setPrintSpeed(int32_t speed) { return kvsim::intSetter("setPrintSpeed", "getPrintSpeed", speed); }
SdkIntResult getLanguageType() { return kvsim::intGetter("getLanguageType"); }
SdkStatus setLanguageType(int32_t language) {
    return kvsim::intSetter("setLanguageType", "getLanguageType", language);
}
SdkIntResult getAutoShutDownTime() { return kvsim::intGetter("getAutoShutDownTime"); }
SdkStatus setAutoShutDownTime(int32_t minutes) {
    return kvsim::intSetter("setAutoShutDownTime", "getAutoShutDownTime", minutes);
}
SdkIntResult getDeviceVoice() { return kvsim::intGetter("getDeviceVoice"); }
SdkStatus setDeviceVoice(int32_t level) { return kvsim::intSetter("setDeviceVoice", "getDeviceVoice", level); }
SdkIntResult getHalfCut() { return kvsim::intGetter("getHalfCut"); }
SdkStatus setHalfCut(int32_t depth) { return kvsim::intSetter("setHalfCut", "getHalfCut", depth); }

SdkPrinterTimeResult getPrinterTime() {
    ExportCall call("getPrinterTime", traceArgs());
    if (const int status = call.printerStatus()) return {0, 0, 0, 0, 0, 0, status};
    const Json::Value value = World::instance().injectedValue("getPrinterTime");
    if (value.isObject()) {
        const auto field = [&](const char* key) { return value[key].isInt() ? value[key].asInt() : 0; };
        return {field("year"), field("month"), field("day"), field("hour"), field("minute"), field("second"), 0};
    }
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    const PrinterTimeInfo& t = world.clock;
    return {t.year, t.month, t.day, t.hour, t.minute, t.second, 0};
}

SdkStatus setPrinterTime(PrinterTimeInfo time) {
    ExportCall call("setPrinterTime", traceArgs(kvsim::toJson(time)));
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.clock = time;
    return 0;
}

SdkListResult getKeyFunction() {
    ExportCall call("getKeyFunction", traceArgs());
    if (const int status = call.printerStatus()) return {nullptr, 0, status};
    World& world = World::instance();
    std::vector<KeyFunctionInfo> keys;
    const Json::Value value = world.injectedValue("getKeyFunction");
    if (value.isArray()) {
        for (const Json::Value& item : value) {
            keys.push_back({item["keyIndex"].isInt() ? item["keyIndex"].asInt() : 0,
                            item["functionValue"].isInt() ? item["functionValue"].asInt() : 0});
        }
    } else {
        std::lock_guard<std::mutex> lock(world.mutex);
        keys = world.keyFunctions;
    }
    auto* items = static_cast<KeyFunctionInfo*>(world.handOut(keys.size() * sizeof(KeyFunctionInfo)));
    if (!keys.empty()) std::memcpy(items, keys.data(), keys.size() * sizeof(KeyFunctionInfo));
    return {items, static_cast<int32_t>(keys.size()), 0};
}

SdkStatus setKeyFunction(int32_t keyIndex, int32_t functionValue) {
    ExportCall call("setKeyFunction", traceArgs(keyIndex, functionValue));
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    for (KeyFunctionInfo& key : world.keyFunctions) {
        if (key.keyIndex == keyIndex) {
            key.functionValue = functionValue;
            return 0;
        }
    }
    world.keyFunctions.push_back({keyIndex, functionValue});
    return 0;
}

SdkTextResult getDeviceWifi() {
    ExportCall call("getDeviceWifi", traceArgs());
    const int status = call.printerStatus();
    World& world = World::instance();
    std::string name;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        name = kvsim::fieldText(world.wifiConfig.wifiName, sizeof world.wifiConfig.wifiName);
    }
    return {world.handOutText(name), status};
}

SdkStatus setDeviceWifi(WifiConfigInfo config) {
    ExportCall call("setDeviceWifi", traceArgs(kvsim::toJson(config)));
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.wifiConfig = config;
    return 0;
}

SdkPairResult getHalfCutSupport() {
    ExportCall call("getHalfCutSupport", traceArgs());
    if (const int status = call.printerStatus()) return {0, 0, status};
    const Json::Value value = World::instance().injectedValue("getHalfCutSupport");
    if (value.isArray() && value.size() == 2 && value[0].isInt() && value[1].isInt()) {
        return {value[0].asInt(), value[1].asInt(), 0};
    }
    return {10, 1, 0};
}

SdkStatus setTubeCalibration() { return kvsim::action("setTubeCalibration", traceArgs()); }

SdkStatus setTubeAdjustLength(float length) {
    ExportCall call("setTubeAdjustLength", traceArgs(length));
    if (const int status = call.printerStatus()) return status;
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.tubeAdjustLength = length;
    return 0;
}

SdkStatus resetPrinter() { return kvsim::action("resetPrinter", traceArgs()); }
SdkStatus setAnti() { return kvsim::action("setAnti", traceArgs()); }
