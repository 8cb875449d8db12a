// Paper and consumables.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::getPageInfoApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getRfidInfoApi() {
    return notServedResult();
}

std::string cKvPrinterService::getConsumablesRfidInfoApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPaperInfoApi() {
    return notServedResult();
}
