#include "kvPrinter/printerEvents.h"

#include <glog/logging.h>
#include <json/json.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printServer.h"
#include "kvPrinter/recordFields.h"
#include "sdk/kvPrinterSdk.h"

std::atomic<int32_t> printedCopyCount{0};
std::atomic<int32_t> printErrorCode{0};
std::atomic<uint32_t> printProgressCount{0};

namespace {

// The tally of copies not yet printed: changed by the worker (commits), the disconnect thread
// (a close) and the SDK's thread (events), so under one lock, which is never held over a call.
std::mutex copyTallyMutex;
int64_t copiesPending = 0;        // committed, not yet reported printed
int64_t copiesBeforeAwaited = 0;  // of those, the ones committed before the awaited page

void copyPrinted(int32_t copyNumber) {
    {
        std::lock_guard<std::mutex> lock(copyTallyMutex);
        // Never below 0: a copy reported after the stop that dropped it counts for nothing.
        if (copiesPending > 0) --copiesPending;
        if (copiesBeforeAwaited > 0) {
            --copiesBeforeAwaited;
        } else {
            printedCopyCount.exchange(copyNumber);
        }
    }
    printProgressCount.fetch_add(1);
}

// The payload is the SDK's: copied whole before use, and never kept.
template <typename Payload>
Payload copyPayload(const void* eventData) {
    Payload payload;
    std::memcpy(&payload, eventData, sizeof payload);
    return payload;
}

bool inEventTable(int32_t eventType) {
    return (eventType >= 1 && eventType <= 10) || eventType == 15;
}

bool readsPayload(int32_t eventType) {
    return (eventType >= 2 && eventType <= 9) || eventType == 15;
}

// Events 2 to 7 share one shape: the value under a callback key and under an info key.
struct StatusEvent {
    const char* callbackName;
    const char* callbackKey;
    const char* infoKey;
};

const StatusEvent* statusEventOf(int32_t eventType) {
    static const StatusEvent events[] = {
        {"onElectricityChange", "powerLever", "power"},
        {"onCoverStatusChange", "coverStatus", "capStatus"},
        {"onPaperStatusChange", "paperStatus", "paperStatus"},
        {"onRibbonStatusChange", "ribbonStatus", "ribbonStatus"},
        {"onConsumablesRfidReadStatusChange", "consumableRfidReadStatus", "rfidStatus"},
        {"onRibbonRfidStatusChange", "ribbonRfidStatus", "ribbonRfidStatus"},
    };
    return eventType >= 2 && eventType <= 7 ? &events[eventType - 2] : nullptr;
}

// The status line of events 3 to 9 and 15, formatted as the printer's own log has it.
void logEvent(const void* eventData, int32_t eventType) {
    char line[256] = {};
    switch (eventType) {
        case 3: case 4: case 5: case 6: case 7: {
            static const char* const formats[] = {
                "Cover status changed: %d\n", "PaPer status changed: %d\n", "Ribbon status changed: %d\n",
                "Paper rfid status changed: %d\n", "Ribbon rfid status changed: %d\n",
            };
            std::snprintf(line, sizeof line, formats[eventType - 3], copyPayload<StatusValueInfo>(eventData).value);
            break;
        }
        case 8: {
            const PrintProgressInfo p = copyPayload<PrintProgressInfo>(eventData);
            std::snprintf(line, sizeof line,
                          "OnPrintProgress 页码：%d, 份码：%d, 碳带使用长度：%f, 高温等待时间：%d, rfid: %s\n", p.page,
                          p.copies, p.ribbonLengthUsed, p.waitTime, fieldText(p.epc).c_str());
            break;
        }
        case 9: {
            const PrintErrorInfo e = copyPayload<PrintErrorInfo>(eventData);
            std::snprintf(line, sizeof line, "OnPrintError 错误码：%d, 打印状态：%d\n", e.errorCode, e.printState);
            break;
        }
        case 15: {
            const FirmwareProgressInfo f = copyPayload<FirmwareProgressInfo>(eventData);
            std::snprintf(line, sizeof line, "固件升级错误码：%d, 进度：%d\n", f.errorCode, f.progress);
            break;
        }
        default:
            return;
    }
    LOG(INFO) << "[INFO]:" << line;
}

}  // namespace

void copiesCommitting(int32_t copies, bool awaited) {
    std::lock_guard<std::mutex> lock(copyTallyMutex);
    if (awaited) {
        copiesBeforeAwaited = copiesPending;
        printedCopyCount.store(0);
    }
    copiesPending += copies;
}

void copiesRefused(int32_t copies) {
    std::lock_guard<std::mutex> lock(copyTallyMutex);
    copiesPending = copiesPending > copies ? copiesPending - copies : 0;
    copiesBeforeAwaited = std::min(copiesBeforeAwaited, copiesPending);
}

void copiesDropped() {
    std::lock_guard<std::mutex> lock(copyTallyMutex);
    copiesPending = 0;
    copiesBeforeAwaited = 0;
}

std::optional<std::string> printerEventMessage(const void* eventData, int32_t eventType) {
    // A payload that an event needs but did not get is treated like an unknown event.
    if (!inEventTable(eventType) || (readsPayload(eventType) && eventData == nullptr)) return std::nullopt;

    std::string apiName;
    Json::Value resultAck(Json::objectValue);
    if (eventType == 1) {
        apiName = "printStatus";
        resultAck["errorCode"] = 0;
        resultAck["info"] = lookupMessage(printerErrorMsgMap, 23);
        resultAck["online"] = "offline";
        resultAck["result"] = 0;
    } else if (const StatusEvent* status = statusEventOf(eventType)) {
        const int32_t value = copyPayload<StatusValueInfo>(eventData).value;
        apiName = "getPrinterHighLevelInfo";
        resultAck["callback"]["name"] = status->callbackName;
        resultAck["callback"][status->callbackKey] = value;
        resultAck["result"] = true;
        resultAck["errorCode"] = 0;
        resultAck["info"][status->infoKey] = value;
    } else if (eventType == 8) {
        const PrintProgressInfo progress = copyPayload<PrintProgressInfo>(eventData);
        apiName = "commitJob";
        resultAck["errorCode"] = 0;
        resultAck["info"] = "";
        resultAck["onPrintEPCCodeCompleted"] = fieldText(progress.epc);
        resultAck["onPrintPageCompleted"] = progress.copies;
        resultAck["onPrintPageLengthCompleted"] = progress.ribbonLengthUsed;
        resultAck["printQuantity"] = progress.page;
        resultAck["printPages"] = progress.page;
        resultAck["printCopies"] = progress.copies;
        resultAck["time"] = progress.waitTime;
    } else if (eventType == 9) {
        const PrintErrorInfo error = copyPayload<PrintErrorInfo>(eventData);
        apiName = "commitJob";
        resultAck["cacheStatus"] = lookupMessage(printStateMsgMap, error.printState);
        resultAck["errorCode"] = error.errorCode;
        resultAck["info"] = lookupMessage(printerErrorMsgMap, error.errorCode);
        resultAck["result"] = -1;
    } else if (eventType == 10) {
        apiName = "commitJob";
        resultAck["errorCode"] = 0;
        resultAck["info"] = "commitJob ok!";
        resultAck["result"] = 0;
    } else if (eventType == 15) {
        const FirmwareProgressInfo firmware = copyPayload<FirmwareProgressInfo>(eventData);
        apiName = "updateFirmware";
        resultAck["errorCode"] = firmware.errorCode;
        resultAck["info"] = lookupMessage(printerErrorMsgMap, firmware.errorCode);
        resultAck["onUpdateFirmwareCompleted"] = firmware.progress;
    } else {
        return std::nullopt;
    }

    return cKvPrinterService::writeAnswer(apiName, resultAck, false);
}

void printerEventCallback(void* eventData, int32_t eventType) {
    if (!inEventTable(eventType) || (readsPayload(eventType) && eventData == nullptr)) return;

    // The counters come before the message is built, so a waiting picture print may see them
    // before the client sees the message.
    if (eventType == 1) {
        printErrorCode.exchange(23);
    } else if (eventType == 8) {
        copyPrinted(copyPayload<PrintProgressInfo>(eventData).copies);
    }
    logEvent(eventData, eventType);
    if (eventType == 9) {
        const PrintErrorInfo error = copyPayload<PrintErrorInfo>(eventData);
        // Unless it only pauses, an error cancels the printing: the copies left will not come.
        if (error.printState != 1) copiesDropped();
        printErrorCode.exchange(error.errorCode);
    }

    if (std::optional<std::string> message = printerEventMessage(eventData, eventType)) {
        sendToCurrentClient(std::move(*message));
    }
}
