// Page commit: one label page, drawn by the client or given as label JSON, rendered at the
// printer's scale and handed to the SDK.
#include <glog/logging.h>

#include <algorithm>
#include <vector>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/integerReaders.h"
#include "kvPrinter/jsonText.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerEvents.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"

namespace {

const char* const kCommitJob = "commitJob";

bool isEmptyJobInformation(const Json::Value& value) {
    return value.isNull() || ((value.isObject() || value.isArray()) && value.empty());
}

}  // namespace

std::string cKvPrinterService::jobValueErrorResult(const std::string& apiName) const {
    return makeResult(apiName, -1, "parameter json error", 26);
}

SdkStatus cKvPrinterService::commitRenderedPage(const RenderedImage& image, int printQuantity,
                                                const std::string& epc, int cutline, bool awaited) {
    // The SDK gets a copy of its own for the duration of the call; nothing outlives it.
    std::vector<unsigned char> pageCopy(image.data, image.data + image.size);
    PrintJobInfo page{};
    page.imageData = pageCopy.data();
    page.imageSize = image.size;
    page.width = image.width;
    page.height = image.height;
    page.printQuantity = printQuantity;
    fillField(page.epc, epc);
    page.cutline = cutline;
    // The printer prints one copy for a count below 1.
    const int32_t copies = std::max(printQuantity, 1);
    copiesCommitting(copies, awaited);
    const SdkStatus status = callSdk(printerSdk.commitJob, page);
    if (status != 0) copiesRefused(copies);
    return status;
}

std::string cKvPrinterService::commitJobApi(const Json::Value& root) {
    LOG(INFO) << "[INFO]:" << "commitJobApi begin";
    const Json::Value& parameter = root["parameter"];
    if (!parameter.isNull() && !parameter.isObject()) return jobValueErrorResult(kCommitJob);

    std::string label;
    // In the drawn-label path the board's job information stands for the request's.
    Json::Value boardInformation;
    const Json::Value* jobInformationUsed = &parameter["printerImageProcessingInfo"];
    if (sdkInited) {
        label = thirdApi->GenerateLableJson();
        if (label.empty()) return makeResult(kCommitJob, -1, "you must draw label first!", 26);
        Json::Value scratch;
        if (!parseStrict(label, scratch)) {
            LOG(ERROR) << "[ERROR]:" << "parse third jsonData fail";
            return jobValueErrorResult(kCommitJob);
        }
        // Copies and epc come from the request; everything else from the drawing board.
        const Json::Value& requested = *jobInformationUsed;
        if (!requested.isNull() && !requested.isObject()) return jobValueErrorResult(kCommitJob);
        Json::Value& board = printImageInfoJson["printerImageProcessingInfo"];
        board["printQuantity"] = requested["printQuantity"];
        board["epc"] = requested["epc"];
        boardInformation = board;
        jobInformationUsed = &boardInformation;
    }

    const Json::Value& jobInformation = *jobInformationUsed;
    if (isEmptyJobInformation(jobInformation)) {
        LOG(ERROR) << "[ERROR]:" << "printerImageProcessingImg empty!";
        return jobValueErrorResult(kCommitJob);
    }
    if (!parameter["printData"].isNull()) label = compactJson(parameter["printData"]);

    // The page margins stand at the top level of the request, beside "apiName".
    float margin[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const Json::Value& topLevelInformation = root["printerImageProcessingInfo"];
    if (!topLevelInformation.isNull() && !topLevelInformation.isObject()) return jobValueErrorResult(kCommitJob);
    const Json::Value& margins = topLevelInformation["margin"];
    if (!margins.isNull() && !margins.isArray()) return jobValueErrorResult(kCommitJob);
    for (Json::ArrayIndex i = 0; i < 4 && margins.isArray(); ++i) {
        int value = 0;
        if (!readTruncatedInt(margins.get(i, Json::Value()), value)) return jobValueErrorResult(kCommitJob);
        margin[i] = static_cast<float>(value);
    }

    int cutline = 0, printQuantity = -1, orientation = 0;
    std::string epc;
    // The information is an object by the time "epc" is read: the first reader refuses the rest.
    if (!readTruncatedInt(jobInformation, "cutline", cutline) || !readTruncatedInt(jobInformation, "printQuantity", printQuantity) ||
        !readTextKey(&jobInformation, "epc", epc) || !readTruncatedInt(jobInformation, "orientation", orientation)) {
        return jobValueErrorResult(kCommitJob);
    }

    const float scale = static_cast<float>(callSdk(printerSdk.getMultiple).multiple);
    unsigned char zeroBlock[8] = {};
    const int colour[4] = {255, 0, 0, 0};
    const OwnedRenderedImage image(
        thirdApi->generateDataFromPrintJson(label.c_str(), 0, scale, scale, margin, zeroBlock, orientation, colour),
        {thirdApi.get()});
    // Nothing to print: the label could not be rendered, so the SDK is not asked.
    if (!image || image->data == nullptr || image->size <= 0) return jobValueErrorResult(kCommitJob);
    const SdkStatus status = commitRenderedPage(*image, printQuantity, epc, cutline, false);
    if (status != 0) return makeResult(kCommitJob, -1, lookupMessage(apiResultMsgMap, status), status);
    return makeResult(kCommitJob, 0, "commitJobApi Success!", 0);
}
