// Device settings and maintenance actions: language, auto shut-down, voice, half-cut, tube,
// key functions, clock, Wi-Fi credentials, reset and setAnti.
#include <json/json.h>

#include <algorithm>
#include <cstring>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"

namespace {

// The library's integer conversion: null 0, booleans 1 and 0, fractions cut toward zero. A
// value it would throw on (text, array, object, outside int32) is refused instead.
std::optional<int32_t> convertedInt(const Json::Value& value) {
    if (!value.isConvertibleTo(Json::intValue)) return std::nullopt;
    return value.asInt();
}

// The library's text conversion: null is empty, numbers and booleans give their text form.
std::optional<std::string> convertedText(const Json::Value& value) {
    if (!value.isConvertibleTo(Json::stringValue)) return std::nullopt;
    return value.asString();
}

// Zero-filled, then at most width - 1 bytes, so the field stays zero-terminated.
void copyTextField(char* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

}  // namespace

// ---- integer settings ----------------------------------------------------------------------

std::string cKvPrinterService::getLanguageTypeApi() {
    return intGetterAnswer(callSdk(printerSdk.getLanguageType), "get language type success!");
}

std::string cKvPrinterService::setLanguageTypeApi(std::string request) {
    return intSetterAnswer(request, "nType", printerSdk.setLanguageType, "set language type ok!");
}

std::string cKvPrinterService::getAutoShutDownTimeApi() {
    return intGetterAnswer(callSdk(printerSdk.getAutoShutDownTime), "get auto shutdown time success!");
}

std::string cKvPrinterService::setAutoShutDownTimeApi(std::string request) {
    return intSetterAnswer(request, "nType", printerSdk.setAutoShutDownTime, "set auto shutdown time ok!");
}

std::string cKvPrinterService::getDeviceVoiceApi() {
    return intGetterAnswer(callSdk(printerSdk.getDeviceVoice), "get device voice success!");
}

std::string cKvPrinterService::setDeviceVoiceApi(std::string request) {
    return intSetterAnswer(request, "nLevel", printerSdk.setDeviceVoice, "set device voice ok!");
}

std::string cKvPrinterService::getHalfCutApi() {
    return intGetterAnswer(callSdk(printerSdk.getHalfCut), "get printer halfCut depth success!");
}

std::string cKvPrinterService::setHalfCutApi(std::string request) {
    return intSetterAnswer(request, "halfCutDepth", printerSdk.setHalfCut, "set printer halfCut depth success!");
}

// The length must be a whole number like every other setting; the SDK takes it as a float.
std::string cKvPrinterService::setTubeAdjustLengthApi(std::string request) {
    const std::optional<int32_t> length = intParameter(request, "actualLength");
    if (!length) return parameterErrorResult();
    return statusAnswer(callSdk(printerSdk.setTubeAdjustLength, static_cast<float>(*length)),
                        "set printer tube adjust length success!");
}

// ---- actions -------------------------------------------------------------------------------

std::string cKvPrinterService::resetPrinterApi() {
    return statusAnswer(callSdk(printerSdk.resetPrinter), "reset printer success!");
}

std::string cKvPrinterService::setTubeCalibrationApi() {
    return statusAnswer(callSdk(printerSdk.setTubeCalibration), "set printer tube calibration success!");
}

std::string cKvPrinterService::setAntiApi(std::string /*request*/) {
    return statusAnswer(callSdk(printerSdk.setAnti), "change anti success!");
}

// ---- structured getters --------------------------------------------------------------------

std::string cKvPrinterService::getHalfCutSupportApi() {
    const SdkPairResult range = callSdk(printerSdk.getHalfCutSupport);
    if (range.errorCode != 0) return sdkErrorResult(range.errorCode);
    Json::Value document;
    document["maxCutDepth"] = range.first;
    document["minCutDepth"] = range.second;
    return documentAnswer(document, "get printer halfCut depth success!");
}

std::string cKvPrinterService::getKeyFunctionApi() {
    const SdkListResult list = callSdk(printerSdk.getKeyFunction);
    if (list.errorCode != 0) return sdkErrorResult(list.errorCode);
    const auto* keys = static_cast<const KeyFunctionInfo*>(list.items);
    Json::Value document;  // stays null, written "null", when the list is empty
    for (int32_t i = 0; i < listLength(list); ++i) {
        Json::Value key;
        key["keyIndex"] = keys[i].keyIndex;
        key["functionValue"] = keys[i].functionValue;
        document[i] = key;
    }
    giveBackToSdk(list.items);
    return documentAnswer(document, "get printer key function success!");
}

std::string cKvPrinterService::getPrinterTimeApi() {
    const SdkPrinterTimeResult clock = callSdk(printerSdk.getPrinterTime);
    if (clock.errorCode != 0) return sdkErrorResult(clock.errorCode);
    Json::Value document;
    document["year"] = clock.year;
    document["month"] = clock.month;
    document["day"] = clock.day;
    document["hour"] = clock.hour;
    document["minute"] = clock.minute;
    document["second"] = clock.second;
    return documentAnswer(document, "get printer time success!");
}

std::string cKvPrinterService::getDeviceWifiApi() {
    return textGetterAnswer(callSdk(printerSdk.getDeviceWifi), "get Device wifi success!", -1);
}

// ---- setters whose keys have defaults ------------------------------------------------------

std::string cKvPrinterService::setKeyFunctionApi(std::string request) {
    const std::optional<Json::Value> parameter = parameterObject(request);
    if (!parameter) return parameterErrorResult();
    const std::optional<int32_t> keyIndex = convertedInt((*parameter)["keyIndex"]);
    const std::optional<int32_t> functionValue = convertedInt((*parameter)["functionValue"]);
    if (!keyIndex || !functionValue) return parameterErrorResult();
    return statusAnswer(callSdk(printerSdk.setKeyFunction, *keyIndex, *functionValue), "set printer key function ok!");
}

std::string cKvPrinterService::setPrinterTimeApi(std::string request) {
    const std::optional<Json::Value> parameter = parameterObject(request);
    if (!parameter) return parameterErrorResult();
    PrinterTimeInfo clock{};
    const std::pair<const char*, int32_t*> fields[] = {
        {"year", &clock.year}, {"month", &clock.month},   {"day", &clock.day},
        {"hour", &clock.hour}, {"minute", &clock.minute}, {"second", &clock.second},
    };
    for (const auto& [key, field] : fields) {
        const std::optional<int32_t> value = convertedInt((*parameter)[key]);
        if (!value) return parameterErrorResult();
        *field = *value;
    }
    return statusAnswer(callSdk(printerSdk.setPrinterTime, clock), "set printer time ok!");
}

std::string cKvPrinterService::setDeviceWifiApi(std::string request) {
    const std::optional<Json::Value> parameter = parameterObject(request);
    if (!parameter) return parameterErrorResult();
    const std::optional<std::string> name = convertedText((*parameter)["wifiName"]);
    const std::optional<std::string> password = convertedText((*parameter)["wifiPassword"]);
    if (!name || !password) return parameterErrorResult();
    WifiConfigInfo config;
    copyTextField(config.wifiName, sizeof config.wifiName, *name);
    copyTextField(config.wifiPassword, sizeof config.wifiPassword, *password);
    return statusAnswer(callSdk(printerSdk.setDeviceWifi, config), "set printer wifi success!");
}
