// Print settings: density, speed, mode and label type.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::getPrintModeApi() {
    return notServedResult();
}

std::string cKvPrinterService::setPrintModeApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getPrintDensityApi() {
    return notServedResult();
}

std::string cKvPrinterService::setPrintDensityApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getLabelTypeApi() {
    return notServedResult();
}

std::string cKvPrinterService::setLabelTypeApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getPrintSpeedApi() {
    return notServedResult();
}

std::string cKvPrinterService::setPrintSpeedApi(std::string /*request*/) {
    return notServedResult();
}
