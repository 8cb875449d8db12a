// Firmware upgrade: the whole file handed to the SDK, whose progress arrives as events.
#include <cstdint>
#include <vector>

#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printerSdkBinding.h"
#include "kvPrinter/recordFields.h"
#include "kvPrinter/urlDecode.h"
#include "platform/platform.h"

namespace {

// Far above any label printer's firmware, and no more than any other bound of the service.
constexpr uint64_t kLargestFirmwareBytes = 256u << 20;

}  // namespace

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
    // Only a plain file, and one no larger than any printer's firmware could be: a FIFO or a
    // device would hold the worker, and every client behind it, for as long as it likes, and a
    // file of gigabytes would be held twice over (here and in the SDK's copy).
    std::vector<unsigned char> data;
    if (!platform::readRegularFile(path, data, kLargestFirmwareBytes)) {
        return makeResult(getCurrentApiName(), -1, "firmware file error!", 26);
    }

    FirmwareUpgradeInfo firmware{};
    firmware.fileData = data.data();
    firmware.fileSize = static_cast<int32_t>(data.size());
    fillField(firmware.crc, crc);
    fillField(firmware.swVersion, swVersion);
    // The SDK copies the data during the call, so the buffer is released afterwards.
    callSdk(printerSdk.upgradeFirmware, firmware);
    return makeResult(getCurrentApiName(), 0, "start upgrade firmware", 0);
}
