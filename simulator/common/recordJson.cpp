#include "simulator/common/recordJson.h"

#include "simulator/common/trace.h"

namespace kvsim {

Json::Value toJson(const UsbPrinterInfo& printer) {
    Json::Value v;
    v["name"] = fieldText(printer.name, sizeof printer.name);
    v["port"] = printer.port;
    return v;
}

Json::Value toJson(const WifiPrinterInfo& printer) {
    Json::Value v;
    v["ip"] = fieldText(printer.ip, sizeof printer.ip);
    v["name"] = fieldText(printer.name, sizeof printer.name);
    v["avaliableClient"] = printer.avaliableClient;
    v["tcpPort"] = printer.tcpPort;
    return v;
}

Json::Value toJson(const BluetoothPrinterInfo& printer) {
    Json::Value v;
    v["name"] = fieldText(printer.name, sizeof printer.name);
    v["mac"] = fieldText(printer.mac, sizeof printer.mac);
    v["rssi"] = printer.rssi;
    return v;
}

Json::Value toJson(const JobStartInfo& job) {
    Json::Value v;
    v["first"] = job.first;
    v["second"] = job.second;
    v["count"] = job.count;
    return v;
}

Json::Value toJson(const PrintJobInfo& page) {
    Json::Value v;
    v["imageSize"] = page.imageSize;
    v["width"] = page.width;
    v["height"] = page.height;
    v["printQuantity"] = page.printQuantity;
    v["epc"] = fieldText(page.epc, sizeof page.epc);
    v["cutline"] = page.cutline;
    return v;
}

Json::Value toJson(const PrinterTimeInfo& time) {
    Json::Value v;
    v["year"] = time.year;
    v["month"] = time.month;
    v["day"] = time.day;
    v["hour"] = time.hour;
    v["minute"] = time.minute;
    v["second"] = time.second;
    return v;
}

Json::Value toJson(const WifiConfigInfo& config) {
    Json::Value v;
    v["wifiName"] = fieldText(config.wifiName, sizeof config.wifiName);
    v["wifiPassword"] = fieldText(config.wifiPassword, sizeof config.wifiPassword);
    return v;
}

Json::Value toJson(const FirmwareUpgradeInfo& firmware) {
    Json::Value v;
    v["fileSize"] = firmware.fileSize;
    v["crc"] = fieldText(firmware.crc, sizeof firmware.crc);
    v["swVersion"] = fieldText(firmware.swVersion, sizeof firmware.swVersion);
    return v;
}

}  // namespace kvsim
