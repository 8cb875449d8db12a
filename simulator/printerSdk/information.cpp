// Device information, capabilities, counters, paper and consumables.
#include <cstring>

#include "simulator/printerSdk/exports.h"
#include "simulator/printerSdk/world.h"

using kvsim::copyField;
using kvsim::ExportCall;
using kvsim::traceArgs;
using kvsim::World;

namespace {

int32_t intMember(const Json::Value& object, const char* key, int32_t fallback = 0) {
    return object.isObject() && object[key].isInt() ? object[key].asInt() : fallback;
}

std::string textMember(const Json::Value& object, const char* key, const std::string& fallback = "") {
    return object.isObject() && object[key].isString() ? object[key].asString() : fallback;
}

float floatMember(const Json::Value& object, const char* key, float fallback) {
    return object.isObject() && object[key].isNumeric() ? object[key].asFloat() : fallback;
}

// A pair from the scenario's [first, second], else the default pair.
SdkPairResult pairResult(const ExportCall& call, const char* exportName, int32_t first, int32_t second) {
    if (const int status = call.printerStatus()) return {0, 0, status};
    const Json::Value value = World::instance().injectedValue(exportName);
    if (value.isArray() && value.size() == 2 && value[0].isInt() && value[1].isInt()) {
        return {value[0].asInt(), value[1].asInt(), 0};
    }
    return {first, second, 0};
}

}  // namespace

SdkTextResult getDeviceSn() { return kvsim::textGetter("getDeviceSn"); }
SdkTextResult getSoftWareVersion() { return kvsim::textGetter("getSoftWareVersion"); }
SdkTextResult getHardWareVersion() { return kvsim::textGetter("getHardWareVersion"); }
SdkTextResult getPrinterLog() { return kvsim::textGetter("getPrinterLog"); }
SdkTextResult getAntiCounterfeiKey() { return kvsim::textGetter("getAntiCounterfeiKey"); }
// Its caller takes the text only when the call succeeds, so a failure hands out none.
SdkTextResult getPrinterHighLevelInfo() { return kvsim::textGetter("getPrinterHighLevelInfo", false); }

// The SDK's own version needs no printer.
SdkTextResult getSdkVersion() {
    ExportCall call("getSdkVersion", traceArgs());
    World& world = World::instance();
    std::string text;
    {
        std::lock_guard<std::mutex> lock(world.mutex);
        text = world.texts["getSdkVersion"];
    }
    return {world.handOutText(text), call.injectedStatus()};
}

SdkIntResult getElectricity() { return kvsim::intGetter("getElectricity"); }
SdkIntResult getColorSupport() { return kvsim::intGetter("getColorSupport"); }
SdkIntResult getPrintQualitySupport() { return kvsim::intGetter("getPrintQualitySupport"); }
SdkIntResult getPrinterType() { return kvsim::intGetter("getPrinterType"); }
SdkIntResult getAreaCode() { return kvsim::intGetter("getAreaCode"); }
SdkIntResult getPrintLastError() { return kvsim::intGetter("getPrintLastError"); }
SdkIntResult getPrintQuality() { return kvsim::intGetter("getPrintQuality"); }
SdkIntResult getTubeInfo() { return kvsim::intGetter("getTubeInfo"); }

// The scale is known without a printer, but the call still reports the missing connection.
SdkMultipleResult getMultiple() {
    ExportCall call("getMultiple", traceArgs());
    World& world = World::instance();
    double multiple = world.multiple;
    const Json::Value value = world.injectedValue("getMultiple");
    if (value.isNumeric()) multiple = value.asDouble();
    return {multiple, call.printerStatus()};
}

SdkPairResult getPageInfo(int32_t paperType) {
    ExportCall call("getPageInfo", traceArgs(paperType));
    return pairResult(call, "getPageInfo", 240, 16);  // page height, gap (dots)
}

SdkPairResult getRfidSuccessTimes() {
    ExportCall call("getRfidSuccessTimes", traceArgs());
    return pairResult(call, "getRfidSuccessTimes", 100, 95);  // total, success
}

SdkPaperInfoResult getPaperInfo() {
    ExportCall call("getPaperInfo", traceArgs());
    SdkPaperInfoResult result{};
    if (const int status = call.printerStatus()) {
        result.errorCode = status;
        return result;
    }
    const Json::Value v = World::instance().injectedValue("getPaperInfo");
    result.gapHeightPixel = intMember(v, "gapHeightPixel", 16);
    result.totalHeightPixel = intMember(v, "totalHeightPixel", 256);
    result.paperType = intMember(v, "paperType", 1);
    result.gapHeight = floatMember(v, "gapHeight", 2.0f);
    result.totalHeight = floatMember(v, "totalHeight", 32.0f);
    result.paperWidthPixel = intMember(v, "paperWidthPixel", 400);
    result.paperWidth = floatMember(v, "paperWidth", 50.0f);
    result.direction = intMember(v, "direction", 0);
    result.tailLengthPixel = intMember(v, "tailLengthPixel", 0);
    result.tailLength = floatMember(v, "tailLength", 0.0f);
    return result;
}

SdkListResult getPrinterHistory() {
    ExportCall call("getPrinterHistory", traceArgs());
    if (const int status = call.printerStatus()) return {nullptr, 0, status};
    Json::Value list = World::instance().injectedValue("getPrinterHistory");
    if (!list.isArray()) {
        list = Json::Value(Json::arrayValue);
        Json::Value item;
        item["uuid"] = "E2801160600002084D5A0001";
        item["limitNumber"] = 200;
        item["usedNumber"] = 15;
        list.append(item);
    }
    auto* items = static_cast<PrinterHistoryInfo*>(World::instance().handOut(list.size() * sizeof(PrinterHistoryInfo)));
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        // The identifier fills its 44 bytes; only a shorter one is zero-terminated.
        const std::string uuid = textMember(list[i], "uuid");
        std::memcpy(items[i].uuid, uuid.data(), std::min(uuid.size(), sizeof items[i].uuid));
        items[i].limitNumber = intMember(list[i], "limitNumber");
        items[i].usedNumber = intMember(list[i], "usedNumber");
    }
    return {items, static_cast<int32_t>(list.size()), 0};
}

SdkListResult getRfidPararm() {
    ExportCall call("getRfidPararm", traceArgs());
    if (const int status = call.printerStatus()) return {nullptr, 0, status};
    Json::Value list = World::instance().injectedValue("getRfidPararm");
    if (!list.isArray()) {
        list = Json::Value(Json::arrayValue);
        Json::Value item;
        item["RFID_UUID"] = "E28011606000020849AB0001";
        item["RFID_BARCODE"] = "6901234567892";
        item["RFID_BATCH_SERIAL_NUMBER"] = "B2026-0001";
        item["RFID_ALL_PAPER_METRES"] = 50;
        item["RFID_USED_PAPER_METRES"] = 12;
        item["RFID_CONSUMABLES_TYPE"] = 1;
        item["readStatus"] = 0;
        list.append(item);
    }
    auto* items = static_cast<RfidInfo*>(World::instance().handOut(list.size() * sizeof(RfidInfo)));
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        const Json::Value& item = list[i];
        copyField(items[i].uuid, sizeof items[i].uuid, textMember(item, "RFID_UUID"));
        copyField(items[i].barcode, sizeof items[i].barcode, textMember(item, "RFID_BARCODE"));
        copyField(items[i].batchSerialNumber, sizeof items[i].batchSerialNumber,
                  textMember(item, "RFID_BATCH_SERIAL_NUMBER"));
        items[i].allPaperMetres = intMember(item, "RFID_ALL_PAPER_METRES");
        items[i].usedPaperMetres = intMember(item, "RFID_USED_PAPER_METRES");
        items[i].consumablesType = intMember(item, "RFID_CONSUMABLES_TYPE");
        items[i].readStatus = intMember(item, "readStatus");
    }
    return {items, static_cast<int32_t>(list.size()), 0};
}
