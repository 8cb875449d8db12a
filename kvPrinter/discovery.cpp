// Printer discovery over USB, Wi-Fi and Bluetooth.
#include <glog/logging.h>

#include <string>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"

std::string cKvPrinterService::getUsbPrinterApi() {
    SdkOwned<UsbPrinterInfo> found;
    int32_t count = 0;
    // Up to three calls while nothing is found; a list handed out with an empty scan is given
    // back before the next call, so none is lost.
    for (int call = 0; call < 3 && count < 1; ++call) {
        found.reset();
        UsbPrinterInfo* scanned = nullptr;
        count = 0;
        callSdk(printerSdk.getUsbPrinter, &scanned, &count);
        found.reset(scanned);
    }
    if (count < 1 || !found) return makeResult(getCurrentApiName(), "false", "no device", 23);
    const UsbPrinterInfo* list = found.get();

    // "deviceInfos" is one object that every record overwrites, so it ends with the last one;
    // the printer text lists them all, names as the records hold them (not escaped).
    Json::Value deviceInfos;
    std::string printers = "{";
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = fieldText(list[i].name);
        deviceInfos["deviceName"] = name;
        deviceInfos["commPort"] = list[i].port;
        printers += "\"" + name + "\":\"" + std::to_string(list[i].port) + "\",";
    }
    printers.pop_back();
    printers += "}";

    Json::Value resultAck;
    resultAck["result"] = "true";
    resultAck["info"] = printers;
    resultAck["deviceInfos"] = deviceInfos;
    resultAck["errorCode"] = 0;
    return writeAnswer(getCurrentApiName(), resultAck, false);
}

std::string cKvPrinterService::getWifiPrinterApi() {
    // Emptied before the SDK is asked: the kept list is always that of the last scan.
    std::vector<WifiPrinterInfo>().swap(wifiPrinters);

    WifiPrinterInfo* list = nullptr;
    int32_t count = 0;
    callSdk(printerSdk.getWifiPrinter, &list, &count);
    const SdkOwned<WifiPrinterInfo> found(list);
    if (count < 1 || list == nullptr) return makeResult(getCurrentApiName(), -1, "no device", 23);

    Json::Value printers(Json::arrayValue);
    for (int32_t i = 0; i < count; ++i) {
        Json::Value printer;
        printer["deviceName"] = fieldText(list[i].name);
        printer["IP"] = fieldText(list[i].ip);
        printer["avaliableClient"] = list[i].avaliableClient;
        printer["tcpPort"] = list[i].tcpPort;
        printers.append(printer);
        wifiPrinters.push_back(list[i]);
    }

    return foundPrintersAnswer(printers);
}

// The Wi-Fi and Bluetooth answers when printers were found: the list itself is "info".
std::string cKvPrinterService::foundPrintersAnswer(const Json::Value& printers) const {
    Json::Value resultAck;
    resultAck["result"] = "true";
    resultAck["info"] = printers;
    resultAck["errorCode"] = 0;
    return writeAnswer(getCurrentApiName(), resultAck, true);
}

std::string cKvPrinterService::getBluetoothPrinterApi() {
    BluetoothPrinterInfo* list = nullptr;
    int32_t count = 0;
    callSdk(printerSdk.getBluetoothPrinter, &list, &count);
    const SdkOwned<BluetoothPrinterInfo> found(list);
    if (count < 1 || list == nullptr) return makeResult(getCurrentApiName(), "false", "no device", 23);

    Json::Value printers(Json::arrayValue);
    for (int32_t i = 0; i < count; ++i) {
        Json::Value printer;
        printer["deviceName"] = fieldText(list[i].name);
        printer["macAddress"] = fieldText(list[i].mac);
        printer["rssi"] = list[i].rssi;
        printers.append(printer);
    }
    return foundPrintersAnswer(printers);
}
