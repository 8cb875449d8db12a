// Capabilities and counters: colour and print-quality support, the RFID tag history and the RFID
// success counters, each answered as a JSON document in "result".
#include <json/json.h>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"

std::string cKvPrinterService::getColorSupportApi() {
    const SdkIntResult support = callSdk(printerSdk.getColorSupport);
    if (support.errorCode != 0) return sdkErrorResult(support.errorCode);
    Json::Value document;
    document["normal"] = (support.value & 1) != 0 ? 1 : 0;
    document["rbMode"] = (support.value & 2) != 0 ? 1 : 0;
    document["grayMode"] = (support.value & 4) != 0 ? 1 : 0;
    return documentAnswer(document, "get color support success");
}

std::string cKvPrinterService::getPrintQualitySupportApi() {
    const SdkIntResult support = callSdk(printerSdk.getPrintQualitySupport);
    if (support.errorCode != 0) return sdkErrorResult(support.errorCode);
    Json::Value document;
    document["highQuality"] = (support.value & 1) != 0 ? 1 : 0;
    document["highSpeed"] = (support.value & 2) != 0 ? 1 : 0;
    return documentAnswer(document, "get printer quality support success!");
}

std::string cKvPrinterService::getPrinterHistoryApi() {
    const SdkListResult list = callSdk(printerSdk.getPrinterHistory);
    if (list.errorCode != 0) return sdkErrorResult(list.errorCode);  // a failure hands out nothing to give back
    const SdkOwned<PrinterHistoryInfo> owned(static_cast<PrinterHistoryInfo*>(list.items));
    const PrinterHistoryInfo* tags = owned.get();
    Json::Value document;  // stays null, written "null", when there are no items
    for (int32_t i = 0; i < listLength(list); ++i) {
        Json::Value tag;
        // The identifier may fill all of its field without a terminating zero.
        tag["uuid"] = fieldText(tags[i].uuid);
        tag["limitNumber"] = tags[i].limitNumber;
        tag["usedNumber"] = tags[i].usedNumber;
        document[i] = tag;
    }
    return documentAnswer(document, "get printer rfid history success!");
}

std::string cKvPrinterService::getRfidSuccessTimesApi() {
    const SdkPairResult counters = callSdk(printerSdk.getRfidSuccessTimes);
    if (counters.errorCode != 0) return sdkErrorResult(counters.errorCode);
    Json::Value document;
    document["totalNumber"] = counters.first;
    document["successNumber"] = counters.second;
    return documentAnswer(document, "get printer rfid success times success!");
}
