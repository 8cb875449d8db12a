// Device settings and maintenance actions: language, auto shut-down, voice, half-cut, tube,
// key functions, clock, Wi-Fi credentials, reset and setAnti.
#include <json/json.h>

#include <algorithm>
#include <cstring>

#include "kvPrinter/integerReaders.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"

// ---- integer settings ----------------------------------------------------------------------

std::string cKvPrinterService::getLanguageTypeApi() {
    return intGetterAnswer(callSdk(printerSdk.getLanguageType), "get language type success!");
}

std::string cKvPrinterService::setLanguageTypeApi(const Json::Value& request) {
    return intSetterAnswer(request, "nType", printerSdk.setLanguageType, "set language type ok!");
}

std::string cKvPrinterService::getAutoShutDownTimeApi() {
    return intGetterAnswer(callSdk(printerSdk.getAutoShutDownTime), "get auto shutdown time success!");
}

std::string cKvPrinterService::setAutoShutDownTimeApi(const Json::Value& request) {
    return intSetterAnswer(request, "nType", printerSdk.setAutoShutDownTime, "set auto shutdown time ok!");
}

std::string cKvPrinterService::getDeviceVoiceApi() {
    return intGetterAnswer(callSdk(printerSdk.getDeviceVoice), "get device voice success!");
}

std::string cKvPrinterService::setDeviceVoiceApi(const Json::Value& request) {
    return intSetterAnswer(request, "nLevel", printerSdk.setDeviceVoice, "set device voice ok!");
}

std::string cKvPrinterService::getHalfCutApi() {
    return intGetterAnswer(callSdk(printerSdk.getHalfCut), "get printer halfCut depth success!");
}

std::string cKvPrinterService::setHalfCutApi(const Json::Value& request) {
    return intSetterAnswer(request, "halfCutDepth", printerSdk.setHalfCut, "set printer halfCut depth success!");
}

// The length must be a whole number like every other setting; the SDK takes it as a float.
std::string cKvPrinterService::setTubeAdjustLengthApi(const Json::Value& request) {
    const std::optional<int32_t> length = wholeIntParameter(request, "actualLength");
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

std::string cKvPrinterService::setAntiApi(const Json::Value& /*request*/) {
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
    if (list.errorCode != 0) return sdkErrorResult(list.errorCode);  // a failure hands out nothing to give back
    const SdkOwned<KeyFunctionInfo> owned(static_cast<KeyFunctionInfo*>(list.items));
    const KeyFunctionInfo* keys = owned.get();
    Json::Value document;  // stays null, written "null", when the list is empty
    for (int32_t i = 0; i < listLength(list); ++i) {
        Json::Value key;
        key["keyIndex"] = keys[i].keyIndex;
        key["functionValue"] = keys[i].functionValue;
        document[i] = key;
    }
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

std::string cKvPrinterService::setKeyFunctionApi(const Json::Value& root) {
    const Json::Value* parameter = nullptr;
    int32_t keyIndex = 0;
    int32_t functionValue = 0;
    if (!findParameter(root, parameter) || !readConvertedInt(parameter, "keyIndex", keyIndex) ||
        !readConvertedInt(parameter, "functionValue", functionValue)) {
        return parameterErrorResult();
    }
    return statusAnswer(callSdk(printerSdk.setKeyFunction, keyIndex, functionValue), "set printer key function ok!");
}

std::string cKvPrinterService::setPrinterTimeApi(const Json::Value& root) {
    const Json::Value* parameter = nullptr;
    if (!findParameter(root, parameter)) return parameterErrorResult();
    PrinterTimeInfo clock{};
    const std::pair<const char*, int32_t*> fields[] = {
        {"year", &clock.year}, {"month", &clock.month},   {"day", &clock.day},
        {"hour", &clock.hour}, {"minute", &clock.minute}, {"second", &clock.second},
    };
    for (const auto& [key, field] : fields) {
        if (!readConvertedInt(parameter, key, *field)) return parameterErrorResult();
    }
    return statusAnswer(callSdk(printerSdk.setPrinterTime, clock), "set printer time ok!");
}

std::string cKvPrinterService::setDeviceWifiApi(const Json::Value& root) {
    const Json::Value* parameter = nullptr;
    std::string name, password;
    if (!findParameter(root, parameter) || !readTextKey(parameter, "wifiName", name) ||
        !readTextKey(parameter, "wifiPassword", password)) {
        return parameterErrorResult();
    }
    WifiConfigInfo config;
    fillField(config.wifiName, name);
    fillField(config.wifiPassword, password);
    return statusAnswer(callSdk(printerSdk.setDeviceWifi, config), "set printer wifi success!");
}
