// Print settings: density, speed, mode and label type, and the patterns that every plain setting
// of the printer shares (the device settings use them too).
#include <json/json.h>

#include "kvPrinter/integerReaders.h"
#include "kvPrinter/jsonText.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"

// ---- the shared patterns -------------------------------------------------------------------

std::string cKvPrinterService::intGetterAnswer(SdkIntResult result, const char* successInfo) const {
    if (result.errorCode != 0) return sdkErrorResult(result.errorCode);
    return makeResult(getCurrentApiName(), result.value, successInfo, 0);
}

std::string cKvPrinterService::statusAnswer(SdkStatus status, const char* successInfo) const {
    if (status != 0) return sdkErrorResult(status);
    return makeResult(getCurrentApiName(), 0, successInfo, 0);
}

std::string cKvPrinterService::intSetterAnswer(const Json::Value& request, const char* key,
                                               SdkStatus (*setter)(int32_t), const char* successInfo) const {
    const std::optional<int32_t> value = wholeIntParameter(request, key);
    if (!value) return parameterErrorResult();
    return statusAnswer(callSdk(setter, *value), successInfo);
}

std::string cKvPrinterService::documentAnswer(const Json::Value& document, const char* successInfo) const {
    return makeResult(getCurrentApiName(), compactJson(document), successInfo, 0);
}

// ---- the handlers --------------------------------------------------------------------------

std::string cKvPrinterService::getPrintModeApi() {
    return intGetterAnswer(callSdk(printerSdk.getPrintMode), "getPrintMode success");
}

std::string cKvPrinterService::setPrintModeApi(const Json::Value& request) {
    return intSetterAnswer(request, "nType", printerSdk.setPrintMode, "set print mode ok!");
}

std::string cKvPrinterService::getPrintDensityApi() {
    return intGetterAnswer(callSdk(printerSdk.getPrintDensity), "getPrintDensity success");
}

std::string cKvPrinterService::setPrintDensityApi(const Json::Value& request) {
    return intSetterAnswer(request, "nDensity", printerSdk.setPrintDensity, "set print density ok!");
}

std::string cKvPrinterService::getLabelTypeApi() {
    return intGetterAnswer(callSdk(printerSdk.getLabelType), "getLabelType success");
}

std::string cKvPrinterService::setLabelTypeApi(const Json::Value& request) {
    return intSetterAnswer(request, "nType", printerSdk.setLabelType, "set print labelType ok!");
}

std::string cKvPrinterService::getPrintSpeedApi() {
    return intGetterAnswer(callSdk(printerSdk.getPrintSpeed), "getPrintSpeed success");
}

std::string cKvPrinterService::setPrintSpeedApi(const Json::Value& request) {
    return intSetterAnswer(request, "nSpeed", printerSdk.setPrintSpeed, "set print speed ok!");
}
