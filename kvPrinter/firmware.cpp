// Firmware upgrade: the whole file handed to the SDK, whose progress arrives as events.
#include <fstream>
#include <limits>
#include <vector>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"
#include "kvPrinter/urlDecode.h"

std::string cKvPrinterService::upgradeFirmwareApi(const Json::Value& root) {
    const Json::Value* parameter = nullptr;
    std::string fileName, swVersion, crc, hwVersion;
    if (!findParameter(root, parameter) || !readTextKey(parameter, "fileName", fileName) ||
        !readTextKey(parameter, "strSwVersion", swVersion) || !readTextKey(parameter, "strCrc", crc) ||
        !readTextKey(parameter, "strHwVersion", hwVersion)) {
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
    fillField(firmware.crc, crc);
    fillField(firmware.swVersion, swVersion);
    // The SDK copies the data during the call, so the buffer is released afterwards.
    callSdk(printerSdk.upgradeFirmware, firmware);
    return makeResult(getCurrentApiName(), 0, "start upgrade firmware", 0);
}
