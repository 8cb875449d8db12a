// Connecting and closing a printer.
#include <cstring>
#include <string>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/messageTables.h"
#include "kvPrinter/printerSdkBinding.h"

namespace {

// Zero-filled, then at most width - 1 bytes of the text, so the field stays zero-terminated.
template <size_t Width>
void fillField(char (&field)[Width], const std::string& text) {
    std::memset(field, 0, Width);
    std::memcpy(field, text.data(), std::min(text.size(), Width - 1));
}

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
    const char* const nameKey = "apiName";
    const Json::Value* name = root.isObject() ? root.find(nameKey, nameKey + std::strlen(nameKey)) : nullptr;
    if (name != nullptr && !name->isNull()) {
        if (!name->isConvertibleTo(Json::stringValue)) return false;
        out.apiName = name->asString();
    }
    const Json::Value* parameter = nullptr;
    if (!findParameter(root, parameter) || !readTextKey(parameter, "printerName", out.printerName)) return false;
    if (portKey != nullptr && !readIntKey(parameter, portKey, out.port)) return false;
    if (macKey != nullptr && !readTextKey(parameter, macKey, out.macAddress)) return false;
    return true;
}

bool cKvPrinterService::findParameter(const Json::Value& root, const Json::Value*& parameter) {
    const char* const key = "parameter";
    parameter = root.isObject() ? root.find(key, key + std::strlen(key)) : nullptr;
    if (parameter != nullptr && parameter->isNull()) parameter = nullptr;
    return parameter == nullptr || parameter->isObject();
}

bool cKvPrinterService::readIntKey(const Json::Value* parameter, const char* key, int32_t& value) {
    if (parameter == nullptr) return true;
    const Json::Value* found = parameter->find(key, key + std::strlen(key));
    if (found == nullptr || found->isNull()) return true;
    // isConvertibleTo(intValue) is exactly when asInt does not throw: integers and reals inside
    // the int32 range (reals are truncated toward zero) and booleans.
    if (!found->isConvertibleTo(Json::intValue)) return false;
    value = found->asInt();
    return true;
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

std::string cKvPrinterService::connectUsbPrinterApi(std::string request) {
    ConnectRequest fields;
    if (!readConnectRequest(parseRequest(request), "port", nullptr, fields)) return parameterErrorResult();
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

std::string cKvPrinterService::connectWifiPrinterApi(std::string request) {
    ConnectRequest fields;
    fields.port = 9100;
    if (!readConnectRequest(parseRequest(request), "port", nullptr, fields)) return parameterErrorResult();
    setPrinterName(fields.printerName);

    WifiPrinterInfo printer;
    std::memset(&printer, 0, sizeof printer);
    fillField(printer.name, fields.printerName);
    printer.tcpPort = fields.port;
    // The request names the printer only: its address comes from the last scan. Every record is
    // looked at, so with several of the same name the last one wins.
    for (const WifiPrinterInfo& kept : wifiPrinters) {
        if (std::string(kept.name, strnlen(kept.name, sizeof kept.name)) != fields.printerName) continue;
        fillField(printer.ip, std::string(kept.ip, strnlen(kept.ip, sizeof kept.ip)));
        printer.avaliableClient = kept.avaliableClient;
    }
    const SdkStatus status = callSdk(printerSdk.connectWifiPrinter, printer);

    Json::Value resultAck = connectResultAck(fields.printerName, status);
    resultAck["result"] = status == 0 ? 0 : -1;
    if (status == 0) resultAck["info"] = "select wifi printer ok!";
    return writeAnswer(fields.apiName, resultAck, false);
}

std::string cKvPrinterService::connectBluetoothPrinterApi(std::string request) {
    ConnectRequest fields;
    if (!readConnectRequest(parseRequest(request), nullptr, "macAddress", fields)) return parameterErrorResult();
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

    Json::Value callback;
    callback["name"] = "onDisConnect";
    callback["printerName"] = getPrinterName();
    Json::Value resultAck;
    resultAck["result"] = "true";
    resultAck["callback"] = callback;
    return writeAnswer("closePrinter", resultAck, false);
}
