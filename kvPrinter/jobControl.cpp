// Job control: start, cancel and end.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::startJobApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::cancelJobApi() {
    return notServedResult();
}

std::string cKvPrinterService::endJobApi() {
    return notServedResult();
}
