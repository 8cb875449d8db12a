// Paper and consumables: page height and gap, the paper information, and the RFID data of the
// loaded consumable and of every tag the printer read.
#include <glog/logging.h>
#include <json/json.h>

#include "kvPrinter/integerReaders.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"

namespace {

void putRfidKeys(Json::Value& target, const RfidInfo& tag) {
    target["RFID_UUID"] = fieldText(tag.uuid);
    target["RFID_BARCODE"] = fieldText(tag.barcode);
    target["RFID_BATCH_SERIAL_NUMBER"] = fieldText(tag.batchSerialNumber);
    target["RFID_ALL_PAPER_METRES"] = tag.allPaperMetres;
    target["RFID_USED_PAPER_METRES"] = tag.usedPaperMetres;
    target["RFID_CONSUMABLES_TYPE"] = tag.consumablesType;
}

}  // namespace

std::string cKvPrinterService::getPageInfoApi(const Json::Value& request) {
    const std::optional<int32_t> paperType = wholeIntParameter(request, "paperType");
    if (!paperType) return parameterErrorResult();
    const SdkPairResult page = callSdk(printerSdk.getPageInfo, *paperType);
    if (page.errorCode != 0) return sdkErrorResult(page.errorCode);
    Json::Value document;
    document["height"] = page.first;
    document["gap"] = page.second;
    return documentAnswer(document, "get page info success!");
}

std::string cKvPrinterService::getPaperInfoApi() {
    const SdkPaperInfoResult paper = callSdk(printerSdk.getPaperInfo);
    if (paper.errorCode != 0) return sdkErrorResult(paper.errorCode);
    Json::Value document;
    document["gapHeightPixel"] = paper.gapHeightPixel;
    document["totalHeightPixel"] = paper.totalHeightPixel;
    document["paperType"] = paper.paperType;
    document["gapHeight"] = static_cast<double>(paper.gapHeight);
    document["totalHeight"] = static_cast<double>(paper.totalHeight);
    document["paperWidthPixel"] = paper.paperWidthPixel;
    document["paperWidth"] = static_cast<double>(paper.paperWidth);
    document["direction"] = paper.direction;
    document["tailLengthPixel"] = paper.tailLengthPixel;
    document["tailLength"] = static_cast<double>(paper.tailLength);
    return documentAnswer(document, "get paper info success");
}

std::string cKvPrinterService::getConsumablesRfidInfoApi() {
    const SdkListResult list = callSdk(printerSdk.getRfidPararm);
    if (list.errorCode != 0) return sdkErrorResult(list.errorCode);  // a failure hands out nothing to give back
    const SdkOwned<RfidInfo> tags(static_cast<RfidInfo*>(list.items));
    // There is no first tag to read: say so instead of reading past the list.
    if (listLength(list) == 0) return sdkErrorResult(-1);
    Json::Value resultAck;
    putRfidKeys(resultAck, tags.get()[0]);
    resultAck["result"] = 0;
    resultAck["errorCode"] = 0;
    resultAck["info"] = "get rfid information success!";
    return writeAnswer(getCurrentApiName(), resultAck, true);
}

std::string cKvPrinterService::getRfidInfoApi() {
    const SdkListResult list = callSdk(printerSdk.getRfidPararm);
    if (list.errorCode != 0) return sdkErrorResult(list.errorCode);  // a failure hands out nothing to give back
    const SdkOwned<RfidInfo> owned(static_cast<RfidInfo*>(list.items));
    const RfidInfo* tags = owned.get();
    // Stays null when the list is empty; a tag not read leaves its place in "rfid" empty and
    // makes the whole answer a failure, though the tags that were read are still listed.
    Json::Value resultAck;
    bool allRead = true;
    for (int32_t i = 0; i < listLength(list); ++i) {
        if (tags[i].readStatus != 0) {
            resultAck["result"] = -1;
            resultAck["errorCode"] = -1;
            resultAck["info"] = "get one or more rfid information fail";
            allRead = false;
            continue;
        }
        Json::Value tag;
        putRfidKeys(tag, tags[i]);
        tag["errorCode"] = 0;
        tag["info"] = "get rfid information success";
        tag["result"] = 0;
        resultAck["rfid"][i] = tag;
        if (allRead) {
            resultAck["result"] = 0;
            resultAck["errorCode"] = 0;
            resultAck["info"] = "get rfid information success!";
        }
    }
    return writeAnswer(getCurrentApiName(), resultAck, true);
}
