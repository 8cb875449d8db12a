// Capabilities and counters.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::getPrinterHistoryApi() {
    return notServedResult();
}

std::string cKvPrinterService::getRfidSuccessTimesApi() {
    return notServedResult();
}

std::string cKvPrinterService::getColorSupportApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPrintQualitySupportApi() {
    return notServedResult();
}
