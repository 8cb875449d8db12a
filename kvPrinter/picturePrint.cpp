// Picture print.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::picturePrintApi(const std::string& /*request*/) {
    return notServedResult();
}
