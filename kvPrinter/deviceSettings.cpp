// Device settings and maintenance actions.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::getLanguageTypeApi() {
    return notServedResult();
}

std::string cKvPrinterService::setLanguageTypeApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getAutoShutDownTimeApi() {
    return notServedResult();
}

std::string cKvPrinterService::setAutoShutDownTimeApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getPrinterTimeApi() {
    return notServedResult();
}

std::string cKvPrinterService::setPrinterTimeApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getKeyFunctionApi() {
    return notServedResult();
}

std::string cKvPrinterService::setKeyFunctionApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getDeviceVoiceApi() {
    return notServedResult();
}

std::string cKvPrinterService::setDeviceVoiceApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::setDeviceWifiApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::getDeviceWifiApi() {
    return notServedResult();
}

std::string cKvPrinterService::getHalfCutSupportApi() {
    return notServedResult();
}

std::string cKvPrinterService::getHalfCutApi() {
    return notServedResult();
}

std::string cKvPrinterService::setHalfCutApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::setTubeCalibrationApi() {
    return notServedResult();
}

std::string cKvPrinterService::setTubeAdjustLengthApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::resetPrinterApi() {
    return notServedResult();
}

std::string cKvPrinterService::setAntiApi(std::string /*request*/) {
    return notServedResult();
}
