// Firmware upgrade.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::upgradeFirmwareApi(std::string /*request*/) {
    return notServedResult();
}
