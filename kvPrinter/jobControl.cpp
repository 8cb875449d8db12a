// Job control: start, cancel and end.
#include "kvPrinter/integerReaders.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerEvents.h"
#include "kvPrinter/printerSdkBinding.h"

std::string cKvPrinterService::startJobApi(const Json::Value& root) {
    const Json::Value* parameter = nullptr;
    int32_t printLabelType = 0;
    int32_t printDensity = 0;
    int32_t printMode = 0;
    int32_t count = 0;
    // Every key is read before the first SDK call, so a bad one changes nothing on the printer.
    if (!findParameter(root, parameter) || !readConvertedInt(parameter, "printLabelType", printLabelType) ||
        !readConvertedInt(parameter, "printDensity", printDensity) || !readConvertedInt(parameter, "printMode", printMode) ||
        !readConvertedInt(parameter, "count", count)) {
        return parameterErrorResult();
    }

    if (sdkInited) printDensity = callSdk(printerSdk.resetPrintDensity, printDensity);

    // The first failing step ends the sequence; its name leads the answer's text.
    const auto failed = [this](const char* step, SdkStatus status) {
        return makeResult(getCurrentApiName(), -1, step + lookupMessage(apiResultMsgMap, status), status);
    };
    if (const SdkStatus s = callSdk(printerSdk.setLabelType, printLabelType); s != 0) return failed("setLabelType:", s);
    if (const SdkStatus s = callSdk(printerSdk.setPrintDensity, printDensity); s != 0) {
        return failed("setPrintDensity:", s);
    }
    if (const SdkStatus s = callSdk(printerSdk.setPrintMode, printMode); s != 0) return failed("setPrintMode:", s);
    const JobStartInfo job{0, 1, count};
    if (const SdkStatus s = callSdk(printerSdk.startJob, job); s != 0) return failed("startJob:", s);
    return makeResult(getCurrentApiName(), 0, "startJob ok!", 0);
}

std::string cKvPrinterService::cancelJobApi() {
    const SdkStatus status = callSdk(printerSdk.cancelJob);
    if (status != 0) return makeResult(getCurrentApiName(), "false", lookupMessage(apiResultMsgMap, status), status);
    copiesDropped();  // the copies not yet printed will not come
    return makeResult(getCurrentApiName(), "true", "cancel success", 0);
}

std::string cKvPrinterService::endJobApi() {
    std::string answer = endJobForDisconnect();
    setCurrentApiName("endJob");
    return answer;
}

std::string cKvPrinterService::endJobForDisconnect() {
    const SdkStatus status = callSdk(printerSdk.endJob);
    printJobEnded.store(true);
    if (status != 0) return makeResult("endJob", -1, lookupMessage(apiResultMsgMap, status), status);
    return makeResult("endJob", 0, "endJob ok", 0);
}
