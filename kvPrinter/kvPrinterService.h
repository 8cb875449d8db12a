// The printer service: owns the printer SDK binding, the drawing bridge and the JSON reader;
// dispatches each request by "apiName" to its handler and sends the handler's answer.
#pragma once

#include <json/json.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/kvPrinterSdk.h"
#include "sdk/thirdLibrary.h"

class kvPrinterSdkThirdApi;

class cKvPrinterService {
public:
    // Loads the printer SDK with loadPrinterSdk.
    cKvPrinterService();
    // Loads it with the given loader instead (tests fill the table with fakes).
    explicit cKvPrinterService(bool (*sdkLoader)());
    ~cKvPrinterService();
    cKvPrinterService(const cKvPrinterService&) = delete;
    cKvPrinterService& operator=(const cKvPrinterService&) = delete;

    // Runs one request to the end and sends its answer; false when the text is not strict JSON.
    bool callPrintApi(std::string request);
    // The same without sending: the answer, or nothing for a text that is not strict JSON.
    std::optional<std::string> answerRequest(std::string request);

    // ---- answer envelope ----
    static std::string makeResult(std::string apiName, std::string result, std::string info, int errorCode);
    static std::string makeResult(std::string apiName, int result, std::string info, int errorCode);
    static std::string makeResult(std::string apiName, int result, int info, int errorCode);
    // The one writer of envelopes, for answers and events alike: {"apiName", "resultAck"} with the
    // compact writer, logged with the "make result: " line when `logged` (makeResult and most
    // built answers are; the events are not).
    static std::string writeAnswer(const std::string& apiName, const Json::Value& resultAck, bool logged);

    // The handlers return their answer text and send nothing; those that read the request take
    // it as the dispatcher parsed it, which needs it no more once a handler has it.

    // ---- drawing set-up ----
    std::string initSdkApi(const Json::Value& request);
    std::string initImageProcessingApi(const Json::Value& request);

    // ---- discovery ----
    std::string getUsbPrinterApi();
    std::string getWifiPrinterApi();
    std::string getBluetoothPrinterApi();

    // ---- connection ----
    std::string connectUsbPrinterApi(const Json::Value& request);
    std::string connectWifiPrinterApi(const Json::Value& request);
    std::string connectBluetoothPrinterApi(const Json::Value& request);
    std::string closePrinterApi();
    // The job end and printer close of a client that went away (disconnect thread): the same SDK
    // calls and answers as endJobApi and closePrinterApi, but currentApiName is left alone, since
    // it names the request that the worker may be answering at this very moment.
    std::string endJobForDisconnect();
    std::string closePrinterForDisconnect();

    // ---- job control, page commit, picture print ----
    std::string startJobApi(const Json::Value& request);
    std::string commitJobApi(const Json::Value& request);
    std::string cancelJobApi();
    std::string endJobApi();
    // Takes the picture out of the request, to let go of it as soon as it is drawn.
    std::string picturePrintApi(Json::Value& request);

    // ---- print settings ----
    std::string getPrintModeApi();
    std::string setPrintModeApi(const Json::Value& request);
    std::string getPrintDensityApi();
    std::string setPrintDensityApi(const Json::Value& request);
    std::string getLabelTypeApi();
    std::string setLabelTypeApi(const Json::Value& request);
    std::string getPrintSpeedApi();
    std::string setPrintSpeedApi(const Json::Value& request);

    // ---- device settings ----
    std::string getLanguageTypeApi();
    std::string setLanguageTypeApi(const Json::Value& request);
    std::string getAutoShutDownTimeApi();
    std::string setAutoShutDownTimeApi(const Json::Value& request);
    std::string getPrinterTimeApi();
    std::string setPrinterTimeApi(const Json::Value& request);
    std::string getKeyFunctionApi();
    std::string setKeyFunctionApi(const Json::Value& request);
    std::string getDeviceVoiceApi();
    std::string setDeviceVoiceApi(const Json::Value& request);
    std::string setDeviceWifiApi(const Json::Value& request);
    std::string getDeviceWifiApi();
    std::string getHalfCutSupportApi();
    std::string getHalfCutApi();
    std::string setHalfCutApi(const Json::Value& request);
    std::string setTubeCalibrationApi();
    std::string setTubeAdjustLengthApi(const Json::Value& request);
    std::string resetPrinterApi();
    std::string setAntiApi(const Json::Value& request);

    // ---- device information ----
    std::string getElectricityApi();
    std::string getDeviceSnApi();
    std::string getSoftWareVersionApi();
    std::string getHardWareVersionApi();
    std::string getPrinterLogApi();
    std::string getSdkVersionApi();
    std::string getAntiCounterfeitKeyApi();
    std::string getMultipleApi();
    std::string getAreaCodeApi();
    std::string getPrinterTypeApi();
    std::string getPrintQualityApi();
    std::string getPrinterHighLevelInfoApi();
    std::string getPrinterBluetoothAddressApi();

    // ---- capabilities and counters ----
    std::string getPrinterHistoryApi();
    std::string getRfidSuccessTimesApi();
    std::string getColorSupportApi();
    std::string getPrintQualitySupportApi();

    // ---- paper and consumables ----
    std::string getPageInfoApi(const Json::Value& request);
    std::string getRfidInfoApi();
    std::string getConsumablesRfidInfoApi();
    std::string getPaperInfoApi();

    // ---- firmware ----
    std::string upgradeFirmwareApi(const Json::Value& request);

    // The fields that the disconnect thread also touches (a dropped client ends the job and
    // closes the printer from there) are read and written through these, under stateMutex.
    std::string getCurrentApiName() const;
    void setCurrentApiName(std::string name);
    std::string getPrinterName() const;
    void setPrinterName(std::string name);

    // Fields, in order.
    std::string printerName;
    std::unique_ptr<Json::Reader> jsonReader;
    std::string currentApiName;
    std::vector<WifiPrinterInfo> wifiPrinters;
    bool sdkInited = false;
    std::unique_ptr<kvPrinterSdkThirdApi> thirdApi;
    bool logInited = false;

private:
    struct DispatchRow;
    // Parses strict JSON with jsonReader, which keeps nothing of the text afterwards; false for a
    // text that is not strict JSON.
    bool parseStrict(std::string_view text, Json::Value& root);
    // The operations by "apiName", in the order of comparison.
    static const std::vector<DispatchRow>& dispatchTable();

    // (-1, text of code in apiResultMsgMap, code) under the current name.
    std::string sdkErrorResult(int code) const;
    // (-1, "parameter error!", 26) under the current name.
    std::string parameterErrorResult() const;

    // The request's "parameter" object: null when it is absent or null (every key then takes its
    // default); false when it is there but not an object.
    static bool findParameter(const Json::Value& root, const Json::Value*& parameter);
    // Reads a key as jsoncpp's asString would; an absent or null key (or no parameter) leaves
    // `value` at its default. False for a value that the conversion refuses (an array or object),
    // so that the handler can answer before calling the SDK.
    static bool readTextKey(const Json::Value* parameter, const char* key, std::string& value);

    // Pause and resume are answered by the dispatcher itself.
    std::string pausePrintAnswer();
    std::string resumePrintAnswer();

    // ---- helpers of the print and device settings handlers ----

    // An integer getter's answer: (value, successInfo, 0), or the SDK error.
    std::string intGetterAnswer(SdkIntResult result, const char* successInfo) const;
    // A setter's or action's answer: (0, successInfo, 0), or the SDK error.
    std::string statusAnswer(SdkStatus status, const char* successInfo) const;
    // The integer setter: an unusable key is refused without an SDK call, else handed to setter.
    std::string intSetterAnswer(const Json::Value& request, const char* key, SdkStatus (*setter)(int32_t),
                                const char* successInfo) const;
    // A structured getter's success: the document's compact text as "result".
    std::string documentAnswer(const Json::Value& document, const char* successInfo) const;

    // ---- helpers of the discovery, connection and job handlers ----
    std::string foundPrintersAnswer(const Json::Value& printers) const;
    // The fields of a connect request: the top-level "apiName", then "printerName" and the
    // transport's "port" or "macAddress"; false when one has the wrong JSON type.
    struct ConnectRequest;
    static bool readConnectRequest(const Json::Value& root, const char* portKey, const char* macKey,
                                   ConnectRequest& out);

    // ---- helpers of the information, capabilities and paper handlers ----

    // The number of items to read from an SDK list: none for a null array or a count below 1.
    static int32_t listLength(const SdkListResult& list);
    // Copies an SDK text (null counts as empty), then gives the pointer back.
    static std::string takeSdkText(const SdkTextResult& text);
    // A text getter's answer, the text taken whatever the error code: (text, successInfo, 0),
    // with the text itself as info when successInfo is null; else (failureResult, message, code),
    // failureResult being an int or a string.
    std::string textGetterAnswer(const SdkTextResult& result, const char* successInfo,
                                 const Json::Value& failureResult) const;

    // ---- helpers of the page commit, picture print and firmware handlers ----
    // (-1, "parameter json error", 26): job values or a label that cannot be used.
    std::string jobValueErrorResult(const std::string& apiName) const;
    // Copies the rendered page into a PrintJobInfo and hands it to the SDK's commitJob, counting its
    // copies among those not yet printed; `awaited` for the page whose copies a picture print waits for.
    SdkStatus commitRenderedPage(const RenderedImage& image, int printQuantity, const std::string& epc, int cutline,
                                 bool awaited);

    mutable std::mutex stateMutex;
    // Set after every job end and printer close, whichever thread makes them (a departure's among
    // them): the copies a picture print waits for can no longer come. Cleared as its wait begins.
    std::atomic<bool> printJobEnded{false};
};
