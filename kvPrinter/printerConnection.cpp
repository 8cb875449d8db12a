// Connecting and closing a printer.
#include <cstring>
#include <string>

#include "kvPrinter/integerReaders.h"
#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerEvents.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"

namespace {

Json::Value connectResultAck(const std::string& printerName, SdkStatus status) {
    Json::Value callback;
    callback["name"] = status == 0 ? "onConnectSuccess" : "onDisConnect";
    callback["printerName"] = printerName;
    Json::Value resultAck;
    resultAck["callback"] = callback;
    resultAck["errorCode"] = status;
    resultAck["info"] = status == 0 ? std::string() : lookupMessage(apiResultMsgMap, status);
    return resultAck;
}

}  // namespace

struct cKvPrinterService::ConnectRequest {
    std::string apiName;
    std::string printerName;
    int32_t port = 0;
    std::string macAddress;
};

bool cKvPrinterService::readConnectRequest(const Json::Value& root, const char* portKey, const char* macKey,
                                           ConnectRequest& out) {
    if (!readTextKey(root.isObject() ? &root : nullptr, "apiName", out.apiName)) return false;
    const Json::Value* parameter = nullptr;
    if (!findParameter(root, parameter) || !readTextKey(parameter, "printerName", out.printerName)) return false;
    if (portKey != nullptr && !readConvertedInt(parameter, portKey, out.port)) return false;
    if (macKey != nullptr && !readTextKey(parameter, macKey, out.macAddress)) return false;
    return true;
}

std::string cKvPrinterService::connectUsbPrinterApi(const Json::Value& request) {
    ConnectRequest fields;
    if (!readConnectRequest(request, "port", nullptr, fields)) return parameterErrorResult();
    setPrinterName(fields.printerName);

    UsbPrinterInfo printer;
    std::memset(&printer, 0, sizeof printer);
    fillField(printer.name, fields.printerName);
    printer.port = fields.port;
    const SdkStatus status = callSdk(printerSdk.connectUsbPrinter, printer);

    Json::Value resultAck = connectResultAck(fields.printerName, status);
    resultAck["result"] = status == 0;
    if (status == 0) {
        resultAck["info"] = "select printer ok!";
    } else {
        setPrinterName("");  // only the USB connect forgets the name of a printer it failed to reach
    }
    return writeAnswer(fields.apiName, resultAck, false);
}

std::string cKvPrinterService::connectWifiPrinterApi(const Json::Value& request) {
    ConnectRequest fields;
    fields.port = 9100;
    if (!readConnectRequest(request, "port", nullptr, fields)) return parameterErrorResult();
    setPrinterName(fields.printerName);

    WifiPrinterInfo printer;
    std::memset(&printer, 0, sizeof printer);
    fillField(printer.name, fields.printerName);
    printer.tcpPort = fields.port;
    // The request names the printer only: its address comes from the last scan. Every record is
    // looked at, so with several of the same name the last one wins.
    for (const WifiPrinterInfo& kept : wifiPrinters) {
        if (fieldText(kept.name) != fields.printerName) continue;
        fillField(printer.ip, fieldText(kept.ip));
        printer.avaliableClient = kept.avaliableClient;
    }
    const SdkStatus status = callSdk(printerSdk.connectWifiPrinter, printer);

    Json::Value resultAck = connectResultAck(fields.printerName, status);
    resultAck["result"] = status == 0 ? 0 : -1;
    if (status == 0) resultAck["info"] = "select wifi printer ok!";
    return writeAnswer(fields.apiName, resultAck, false);
}

std::string cKvPrinterService::connectBluetoothPrinterApi(const Json::Value& request) {
    ConnectRequest fields;
    if (!readConnectRequest(request, nullptr, "macAddress", fields)) return parameterErrorResult();
    setPrinterName(fields.printerName);

    BluetoothPrinterInfo printer;
    std::memset(&printer, 0, sizeof printer);
    fillField(printer.name, fields.printerName);
    fillField(printer.mac, fields.macAddress);
    printer.rssi = 0;
    const SdkStatus status = callSdk(printerSdk.connectBluetoothPrinter, printer);

    Json::Value resultAck = connectResultAck(fields.printerName, status);
    resultAck["result"] = status == 0 ? 0 : -1;
    if (status == 0) resultAck["info"] = "select bluetooth printer ok!";
    return writeAnswer(fields.apiName, resultAck, false);
}

std::string cKvPrinterService::closePrinterApi() {
    std::string answer = closePrinterForDisconnect();
    setCurrentApiName("closePrinter");
    return answer;
}

std::string cKvPrinterService::closePrinterForDisconnect() {
    callSdk(printerSdk.closePrinter);
    copiesDropped();  // a closed printer prints nothing more of what it held
    printJobEnded.store(true);

    Json::Value callback;
    callback["name"] = "onDisConnect";
    callback["printerName"] = getPrinterName();
    Json::Value resultAck;
    resultAck["result"] = "true";
    resultAck["callback"] = callback;
    return writeAnswer("closePrinter", resultAck, false);
}
