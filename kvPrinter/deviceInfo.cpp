// Device information: identity and version texts, high-level information, area code, battery
// level, printer type and scale, and the helpers that the getters of lists and texts share.
#include <glog/logging.h>
#include <json/json.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerSdkBinding.h"

namespace {

// Toward zero; a scale beyond int32 (or not a number) has no such value, so it is held at the
// nearest end of the range (0 for not a number) instead of being converted undefinedly.
int truncatedScale(double multiple) {
    if (std::isnan(multiple)) return 0;
    if (multiple >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (multiple <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(multiple);
}

}  // namespace

// ---- SDK memory ----------------------------------------------------------------------------

int32_t cKvPrinterService::listLength(const SdkListResult& list) {
    return list.items == nullptr || list.count < 1 ? 0 : list.count;
}

std::string cKvPrinterService::takeSdkText(const SdkTextResult& text) {
    // Copied before its owner gives it back: the SDK owns this text.
    const SdkOwned<char> owned(text.data);
    return owned ? std::string(owned.get()) : std::string();
}

std::string cKvPrinterService::textGetterAnswer(const SdkTextResult& result, const char* successInfo,
                                                const Json::Value& failureResult) const {
    const std::string text = takeSdkText(result);
    const std::string apiName = getCurrentApiName();
    if (result.errorCode == 0) return makeResult(apiName, text, successInfo != nullptr ? successInfo : text, 0);
    const std::string message = lookupMessage(apiResultMsgMap, result.errorCode);
    if (failureResult.isString()) return makeResult(apiName, failureResult.asString(), message, result.errorCode);
    return makeResult(apiName, failureResult.asInt(), message, result.errorCode);
}

// ---- text getters --------------------------------------------------------------------------

std::string cKvPrinterService::getDeviceSnApi() {
    return textGetterAnswer(callSdk(printerSdk.getDeviceSn), "get sn success!", 0);
}

std::string cKvPrinterService::getSoftWareVersionApi() {
    return textGetterAnswer(callSdk(printerSdk.getSoftWareVersion), "get software version success!", "0.00");
}

std::string cKvPrinterService::getHardWareVersionApi() {
    return textGetterAnswer(callSdk(printerSdk.getHardWareVersion), "get hardware version success!", "0.00");
}

std::string cKvPrinterService::getPrinterLogApi() {
    return textGetterAnswer(callSdk(printerSdk.getPrinterLog), "get printer log success!", -1);
}

std::string cKvPrinterService::getSdkVersionApi() {
    return textGetterAnswer(callSdk(printerSdk.getSdkVersion), nullptr, 0);  // the version is its own info
}

std::string cKvPrinterService::getAntiCounterfeitKeyApi() {
    return textGetterAnswer(callSdk(printerSdk.getAntiCounterfeiKey), "get printer antiCounterfeitKey success!", -1);
}

// Unlike the other texts, this one is only taken (and given back) when the call succeeded, and
// the answer is decided by the text: an empty one is answered as a failure of the code.
std::string cKvPrinterService::getPrinterHighLevelInfoApi() {
    const SdkTextResult result = callSdk(printerSdk.getPrinterHighLevelInfo);
    const std::string text = result.errorCode == 0 ? takeSdkText(result) : std::string();
    if (!text.empty()) return makeResult(getCurrentApiName(), 1, text, 0);
    return makeResult(getCurrentApiName(), 0, lookupMessage(apiResultMsgMap, result.errorCode), result.errorCode);
}

// ---- integer getters -----------------------------------------------------------------------

std::string cKvPrinterService::getAreaCodeApi() {
    return intGetterAnswer(callSdk(printerSdk.getAreaCode), "get area code success!");
}

std::string cKvPrinterService::getElectricityApi() {
    const SdkIntResult level = callSdk(printerSdk.getElectricity);
    if (level.errorCode != 0) {
        LOG(INFO) << "[INFO]:" << level.errorCode << "," << lookupMessage(apiResultMsgMap, level.errorCode);
    }
    return intGetterAnswer(level, "get device electricity success!");
}

std::string cKvPrinterService::getPrinterTypeApi() {
    const SdkIntResult type = callSdk(printerSdk.getPrinterType);
    if (type.errorCode != 0) return sdkErrorResult(type.errorCode);
    return makeResult(getCurrentApiName(), type.value, type.value, 0);
}

std::string cKvPrinterService::getMultipleApi() {
    const SdkMultipleResult scale = callSdk(printerSdk.getMultiple);
    if (scale.errorCode != 0) return sdkErrorResult(scale.errorCode);
    return makeResult(getCurrentApiName(), truncatedScale(scale.multiple), "get printer multiple success!", 0);
}

// ---- accepted but not carried out ----------------------------------------------------------

std::string cKvPrinterService::getPrintQualityApi() {
    return std::string();  // the client receives one empty message
}

std::string cKvPrinterService::getPrinterBluetoothAddressApi() {
    return makeResult(getCurrentApiName(), -1, "not realization", -3);
}
