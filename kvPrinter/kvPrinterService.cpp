#include "kvPrinter/kvPrinterService.h"

#include <glog/logging.h>

#include <cstring>
#include <exception>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"
#include "kvPrinter/jsonText.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printServer.h"
#include "kvPrinter/printerEvents.h"
#include "kvPrinter/printerSdkBinding.h"
#include "platform/platform.h"
#include "unit/log/log.h"

namespace {

using Handler = std::string (*)(cKvPrinterService&, Json::Value&);

}  // namespace

struct cKvPrinterService::DispatchRow {
    const char* apiName;
    Handler handler;
    bool needsSdk;  // false only for the two answers that touch nothing
};

cKvPrinterService::cKvPrinterService() : cKvPrinterService(static_cast<bool (*)()>(loadPrinterSdk)) {}

cKvPrinterService::cKvPrinterService(bool (*sdkLoader)()) {
    if (sdkLoader()) {
        thirdApi = std::make_unique<kvPrinterSdkThirdApi>();
        thirdApi->loadLibrary();
        callSdk(printerSdk.initSdk);
        copiesDropped();  // a fresh SDK holds no page
        callSdk(printerSdk.registCallback, &printerEventCallback);  // events can arrive from here on
    }
    logInited = initLogFromConfig();
    jsonReader = std::make_unique<Json::Reader>(Json::Features::strictMode());
    wifiPrinters.clear();
}

cKvPrinterService::~cKvPrinterService() {
    if (printerSdkLoaded()) {
        callSdk(printerSdk.unInitSdk);
        unloadPrinterSdk();
    }
    thirdApi.reset();
    jsonReader.reset();
    if (logInited) unInitLog();
}

// The reader refuses nesting deeper than its stack limit with an exception instead of a false
// result; such a text cannot be read either. The text is read where it lies: given a std::string,
// the reader would keep a copy of it until its next text. Afterwards the reader starts afresh, so
// that it keeps no pointers into the text and the tree, nor error records, once they are gone.
bool cKvPrinterService::parseStrict(std::string_view text, Json::Value& root) {
    bool parsed = false;
    try {
        parsed = jsonReader->parse(text.data(), text.data() + text.size(), root);
    } catch (const Json::Exception&) {
        parsed = false;
    }
    *jsonReader = Json::Reader(Json::Features::strictMode());
    return parsed;
}

std::optional<std::string> cKvPrinterService::answerRequest(std::string request) {
    LOG(INFO) << "[INFO]:" << "cKvPrinterService::callPrintApi" << ": " << keptInLog(request);

    // Parsed once: the drawing bridge and every handler read this value. The bridge's strict
    // reader and its handlers' lenient one read the same values from any text that the strict
    // one accepts, and a text that it refuses is answered by neither.
    Json::Value root;
    const bool parsed = parseStrict(request, root);
    // The text may be megabytes (a picture); from here on only the parsed value is needed.
    std::string().swap(request);
    if (!parsed) return std::nullopt;

    if (thirdApi) {
        std::string answer;
        try {
            answer = thirdApi->answerDrawRequest(root);
        } catch (const std::exception& e) {
            LOG(ERROR) << "[ERROR]:" << "Image Gallery interface crash! :" << e.what();
            answer.clear();
        }
        if (!answer.empty()) return answer;
    }

    // A root that is an array, or an "apiName" that is an array or an object, has no name that
    // can be read; it is refused like any other unusable request instead of stopping the worker.
    const char* const nameKey = "apiName";
    const Json::Value* name = root.isObject() ? root.find(nameKey, nameKey + std::strlen(nameKey)) : nullptr;
    if (!root.isObject() || (name != nullptr && (name->isArray() || name->isObject()))) {
        setCurrentApiName("");
        return parameterErrorResult();
    }
    // Dispatch on the name read here, not on currentApiName read back, which other threads can
    // reach through the service's setters.
    const std::string apiName = name != nullptr && !name->isNull() ? name->asString() : std::string();
    setCurrentApiName(apiName);

    for (const DispatchRow& row : dispatchTable()) {
        if (apiName != row.apiName) continue;
        if (row.needsSdk && !printerSdkLoaded()) {
            return makeResult(apiName, -1, "printer sdk not loaded", -1);
        }
        try {
            return row.handler(*this, root);
        } catch (const std::exception&) {
            // A value of the wrong JSON type that a handler did not check for.
            return parameterErrorResult();
        }
    }
    return makeResult(apiName, -1, "no this interface", -3);
}

bool cKvPrinterService::callPrintApi(std::string request) {
    std::optional<std::string> answer = answerRequest(std::move(request));
    if (answer) sendToCurrentClient(std::move(*answer));
    return answer.has_value();
}

const std::vector<cKvPrinterService::DispatchRow>& cKvPrinterService::dispatchTable() {
    using S = cKvPrinterService;
    using R = Json::Value&;
    static const std::vector<DispatchRow> rows = {
        {"initSdk", [](S& s, R r) { return s.initSdkApi(r); }, true},
        {"getUsbPrinter", [](S& s, R) { return s.getUsbPrinterApi(); }, true},
        {"getAllPrinters", [](S& s, R) { return s.getUsbPrinterApi(); }, true},
        {"connetUsbPrinter", [](S& s, R r) { return s.connectUsbPrinterApi(r); }, true},
        {"selectPrinter", [](S& s, R r) { return s.connectUsbPrinterApi(r); }, true},
        {"getWifiPrinter", [](S& s, R) { return s.getWifiPrinterApi(); }, true},
        {"scanWifiPrinter", [](S& s, R) { return s.getWifiPrinterApi(); }, true},
        {"connectWifiPrinter", [](S& s, R r) { return s.connectWifiPrinterApi(r); }, true},
        {"getBluetoothPrinter", [](S& s, R) { return s.getBluetoothPrinterApi(); }, true},
        {"connectBluetoothPrinter", [](S& s, R r) { return s.connectBluetoothPrinterApi(r); }, true},
        {"startJob", [](S& s, R r) { return s.startJobApi(r); }, true},
        {"commitJob", [](S& s, R r) { return s.commitJobApi(r); }, true},
        {"pausePrint", [](S& s, R) { return s.pausePrintAnswer(); }, true},
        {"resumePrint", [](S& s, R) { return s.resumePrintAnswer(); }, true},
        {"cancelJob", [](S& s, R) { return s.cancelJobApi(); }, true},
        {"stopPrint", [](S& s, R) { return s.cancelJobApi(); }, true},
        {"endJob", [](S& s, R) { return s.endJobApi(); }, true},
        {"getPrintMode", [](S& s, R) { return s.getPrintModeApi(); }, true},
        {"setPrintMode", [](S& s, R r) { return s.setPrintModeApi(r); }, true},
        {"getPrintDensity", [](S& s, R) { return s.getPrintDensityApi(); }, true},
        {"setPrintDensity", [](S& s, R r) { return s.setPrintDensityApi(r); }, true},
        {"getLabelType", [](S& s, R) { return s.getLabelTypeApi(); }, true},
        {"getPrintLabelType", [](S& s, R) { return s.getLabelTypeApi(); }, true},
        {"setLabelType", [](S& s, R r) { return s.setLabelTypeApi(r); }, true},
        {"setPrintLabelType", [](S& s, R r) { return s.setLabelTypeApi(r); }, true},
        {"getPrintSpeed", [](S& s, R) { return s.getPrintSpeedApi(); }, true},
        {"setPrintSpeed", [](S& s, R r) { return s.setPrintSpeedApi(r); }, true},
        {"getLanguageType", [](S& s, R) { return s.getLanguageTypeApi(); }, true},
        {"getPrinterLanguageType", [](S& s, R) { return s.getLanguageTypeApi(); }, true},
        {"setLanguageType", [](S& s, R r) { return s.setLanguageTypeApi(r); }, true},
        {"setPrinterLanguageType", [](S& s, R r) { return s.setLanguageTypeApi(r); }, true},
        {"getAutoShutDownTime", [](S& s, R) { return s.getAutoShutDownTimeApi(); }, true},
        {"getPrinterAutoShutDownTime", [](S& s, R) { return s.getAutoShutDownTimeApi(); }, true},
        {"setAutoShutDownTime", [](S& s, R r) { return s.setAutoShutDownTimeApi(r); }, true},
        {"setPrinterAutoShutDownTimeApi", [](S& s, R r) { return s.setAutoShutDownTimeApi(r); }, true},
        {"getPrinterTime", [](S& s, R) { return s.getPrinterTimeApi(); }, true},
        {"setPrinterTime", [](S& s, R r) { return s.setPrinterTimeApi(r); }, true},
        {"getKeyFunction", [](S& s, R) { return s.getKeyFunctionApi(); }, true},
        {"setKeyFunction", [](S& s, R r) { return s.setKeyFunctionApi(r); }, true},
        {"getDeviceVoice", [](S& s, R) { return s.getDeviceVoiceApi(); }, true},
        {"setDeviceVoice", [](S& s, R r) { return s.setDeviceVoiceApi(r); }, true},
        {"getElectricity", [](S& s, R) { return s.getElectricityApi(); }, true},
        {"getPower", [](S& s, R) { return s.getElectricityApi(); }, true},
        {"getDeviceSn", [](S& s, R) { return s.getDeviceSnApi(); }, true},
        {"getPrinterSn", [](S& s, R) { return s.getDeviceSnApi(); }, true},
        {"getSoftWareVersion", [](S& s, R) { return s.getSoftWareVersionApi(); }, true},
        {"getPrinterSoftwareVersion", [](S& s, R) { return s.getSoftWareVersionApi(); }, true},
        {"getHardWareVersion", [](S& s, R) { return s.getHardWareVersionApi(); }, true},
        {"getPrinterHardwareVersion", [](S& s, R) { return s.getHardWareVersionApi(); }, true},
        {"getPrinterHistory", [](S& s, R) { return s.getPrinterHistoryApi(); }, true},
        {"getPrinterTagID", [](S& s, R) { return s.getPrinterHistoryApi(); }, true},
        {"getRfidSuccessTimes", [](S& s, R) { return s.getRfidSuccessTimesApi(); }, true},
        {"getPrinterTimes", [](S& s, R) { return s.getRfidSuccessTimesApi(); }, true},
        {"getColorSupport", [](S& s, R) { return s.getColorSupportApi(); }, true},
        {"getColorType", [](S& s, R) { return s.getColorSupportApi(); }, true},
        {"getPageInfo", [](S& s, R r) { return s.getPageInfoApi(r); }, true},
        {"paperCalibration", [](S& s, R r) { return s.getPageInfoApi(r); }, true},
        {"getPrinterLog", [](S& s, R) { return s.getPrinterLogApi(); }, true},
        {"getSdkVersion", [](S& s, R) { return s.getSdkVersionApi(); }, true},
        {"getSDKVersion", [](S& s, R) { return s.getSdkVersionApi(); }, true},
        {"getAntiCounterfeiKey", [](S& s, R) { return s.getAntiCounterfeitKeyApi(); }, true},
        {"getAntiCounterfeitKey", [](S& s, R) { return s.getAntiCounterfeitKeyApi(); }, true},
        {"setDeviceWifi", [](S& s, R r) { return s.setDeviceWifiApi(r); }, true},
        {"configurationWifi", [](S& s, R r) { return s.setDeviceWifiApi(r); }, true},
        {"getPrintQualitySupport", [](S& s, R) { return s.getPrintQualitySupportApi(); }, true},
        {"getHalfCutSupport", [](S& s, R) { return s.getHalfCutSupportApi(); }, true},
        {"getHalfCut", [](S& s, R) { return s.getHalfCutApi(); }, true},
        {"setHalfCut", [](S& s, R r) { return s.setHalfCutApi(r); }, true},
        {"setTubeCalibration", [](S& s, R) { return s.setTubeCalibrationApi(); }, true},
        {"setTubeAdjustLength", [](S& s, R r) { return s.setTubeAdjustLengthApi(r); }, true},
        {"getRfidPararm", [](S& s, R) { return s.getRfidInfoApi(); }, true},
        {"getRfidInfo", [](S& s, R) { return s.getRfidInfoApi(); }, true},
        {"getMultiple", [](S& s, R) { return s.getMultipleApi(); }, true},
        {"getAreaCode", [](S& s, R) { return s.getAreaCodeApi(); }, true},
        {"resetPrinter", [](S& s, R) { return s.resetPrinterApi(); }, true},
        {"setAnti", [](S& s, R r) { return s.setAntiApi(r); }, true},
        {"getPrinterType", [](S& s, R) { return s.getPrinterTypeApi(); }, true},
        {"getDeviceWifi", [](S& s, R) { return s.getDeviceWifiApi(); }, true},
        {"getWifiConfiguration", [](S& s, R) { return s.getDeviceWifiApi(); }, true},
        {"getPrintQuality", [](S& s, R) { return s.getPrintQualityApi(); }, false},
        {"upgradeFirmware", [](S& s, R r) { return s.upgradeFirmwareApi(r); }, true},
        {"updateFirmware", [](S& s, R r) { return s.upgradeFirmwareApi(r); }, true},
        {"closePrinter", [](S& s, R) { return s.closePrinterApi(); }, true},
        {"getPrinterHighLevelInfo", [](S& s, R) { return s.getPrinterHighLevelInfoApi(); }, true},
        {"getConsumablesRfidInfo", [](S& s, R) { return s.getConsumablesRfidInfoApi(); }, true},
        {"initImageProcessing", [](S& s, R r) { return s.initImageProcessingApi(r); }, true},
        {"picturePrint", [](S& s, R r) { return s.picturePrintApi(r); }, true},
        {"getPaperInfo", [](S& s, R) { return s.getPaperInfoApi(); }, true},
        {"getPrinterBluetoothAddress", [](S& s, R) { return s.getPrinterBluetoothAddressApi(); }, false},
    };
    return rows;
}

// ---- answer envelope -----------------------------------------------------------------------

std::string cKvPrinterService::writeAnswer(const std::string& apiName, const Json::Value& resultAck,
                                           bool logged) {
    Json::Value envelope;
    envelope["apiName"] = apiName;
    envelope["resultAck"] = resultAck;
    std::string text = compactJson(envelope);
    // A preview's answer is its picture: only what the log keeps of it is streamed.
    if (logged) LOG(INFO) << "[INFO]:" << "make result: " << keptInLog(text) << "\n";
    return text;
}

namespace {

// The "resultAck" of makeResult's three forms, which differ only in the JSON types of the two.
Json::Value resultAckOf(Json::Value result, Json::Value info, int errorCode) {
    Json::Value resultAck;
    resultAck["result"] = std::move(result);
    resultAck["info"] = std::move(info);
    resultAck["errorCode"] = errorCode;
    return resultAck;
}

}  // namespace

std::string cKvPrinterService::makeResult(std::string apiName, std::string result, std::string info,
                                          int errorCode) {
    return writeAnswer(apiName, resultAckOf(std::move(result), std::move(info), errorCode), true);
}

std::string cKvPrinterService::makeResult(std::string apiName, int result, std::string info, int errorCode) {
    return writeAnswer(apiName, resultAckOf(result, std::move(info), errorCode), true);
}

std::string cKvPrinterService::makeResult(std::string apiName, int result, int info, int errorCode) {
    return writeAnswer(apiName, resultAckOf(result, info, errorCode), true);
}

// ---- shared state and helpers --------------------------------------------------------------

std::string cKvPrinterService::getCurrentApiName() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return currentApiName;
}

void cKvPrinterService::setCurrentApiName(std::string name) {
    std::lock_guard<std::mutex> lock(stateMutex);
    currentApiName = std::move(name);
}

std::string cKvPrinterService::getPrinterName() const {
    std::lock_guard<std::mutex> lock(stateMutex);
    return printerName;
}

void cKvPrinterService::setPrinterName(std::string name) {
    std::lock_guard<std::mutex> lock(stateMutex);
    printerName = std::move(name);
}

bool cKvPrinterService::findParameter(const Json::Value& root, const Json::Value*& parameter) {
    const char* const key = "parameter";
    parameter = root.isObject() ? root.find(key, key + std::strlen(key)) : nullptr;
    if (parameter != nullptr && parameter->isNull()) parameter = nullptr;
    return parameter == nullptr || parameter->isObject();
}

bool cKvPrinterService::readTextKey(const Json::Value* parameter, const char* key, std::string& value) {
    if (parameter == nullptr) return true;
    const Json::Value* found = parameter->find(key, key + std::strlen(key));
    if (found == nullptr || found->isNull()) return true;
    // Numbers and booleans are taken in their text form, as asString gives them.
    if (!found->isConvertibleTo(Json::stringValue)) return false;
    value = found->asString();
    return true;
}

std::string cKvPrinterService::sdkErrorResult(int code) const {
    return makeResult(getCurrentApiName(), -1, lookupMessage(apiResultMsgMap, code), code);
}

std::string cKvPrinterService::parameterErrorResult() const {
    return makeResult(getCurrentApiName(), -1, "parameter error!", 26);
}

// ---- pause and resume, answered by the dispatcher ------------------------------------------

std::string cKvPrinterService::pausePrintAnswer() {
    const SdkStatus status = callSdk(printerSdk.pausePrint);
    if (status != 0) return sdkErrorResult(status);
    return makeResult(getCurrentApiName(), 0, "pause success", 0);
}

std::string cKvPrinterService::resumePrintAnswer() {
    const SdkStatus status = callSdk(printerSdk.resumePrint);
    if (status != 0) return sdkErrorResult(status);
    return makeResult(getCurrentApiName(), 0, "resume success", 0);
}
