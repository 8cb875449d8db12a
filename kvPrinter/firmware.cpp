// Firmware upgrade: the whole file handed to the SDK, whose progress arrives as events.
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/urlDecode.h"

namespace {

// A text key: absent or null gives the empty text; arrays and objects cannot be read.
bool readText(const Json::Value& parameter, const char* key, std::string& out) {
    out.clear();
    const Json::Value& value = parameter[key];
    if (value.isNull()) return true;
    if (value.isArray() || value.isObject()) return false;
    out = value.asString();
    return true;
}

}  // namespace

std::string cKvPrinterService::upgradeFirmwareApi(std::string request) {
    const Json::Value root = parseRequest(request);
    const Json::Value& parameter = root["parameter"];
    if (!parameter.isNull() && !parameter.isObject()) return parameterErrorResult();
    std::string fileName, swVersion, crc, hwVersion;
    if (!readText(parameter, "fileName", fileName) || !readText(parameter, "strSwVersion", swVersion) ||
        !readText(parameter, "strCrc", crc) || !readText(parameter, "strHwVersion", hwVersion)) {
        return parameterErrorResult();
    }

    std::string path;
    urlDecode(fileName, path);
    std::ifstream file(path, std::ios::binary);
    if (!file) return makeResult(getCurrentApiName(), -1, "firmware file error!", 26);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    // The record holds the size in 32 bits: larger files (and unreadable ones) are refused.
    if (size < 0 || size > std::numeric_limits<int32_t>::max()) {
        return makeResult(getCurrentApiName(), -1, "firmware file error!", 26);
    }
    std::vector<unsigned char> data(static_cast<size_t>(size), 0);
    file.seekg(0, std::ios::beg);
    file.read(reinterpret_cast<char*>(data.data()), size);
    file.close();

    FirmwareUpgradeInfo firmware{};
    firmware.fileData = data.data();
    firmware.fileSize = static_cast<int32_t>(size);
    std::memcpy(firmware.crc, crc.data(), std::min(crc.size(), sizeof firmware.crc - 1));
    std::memcpy(firmware.swVersion, swVersion.data(), std::min(swVersion.size(), sizeof firmware.swVersion - 1));
    // The SDK copies the data during the call, so the buffer is released afterwards.
    callSdk(printerSdk.upgradeFirmware, firmware);
    return makeResult(getCurrentApiName(), 0, "start upgrade firmware", 0);
}
