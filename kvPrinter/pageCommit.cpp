// Page commit.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::commitJobApi(const std::string& /*request*/) {
    return notServedResult();
}
