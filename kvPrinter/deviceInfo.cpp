// Device information.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::getElectricityApi() {
    return notServedResult();
}

std::string cKvPrinterService::getDeviceSnApi() {
    return notServedResult();
}

std::string cKvPrinterService::getSoftWareVersionApi() {
    return notServedResult();
}

std::string cKvPrinterService::getHardWareVersionApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPrinterLogApi() {
    return notServedResult();
}

std::string cKvPrinterService::getSdkVersionApi() {
    return notServedResult();
}

std::string cKvPrinterService::getAntiCounterfeitKeyApi() {
    return notServedResult();
}

std::string cKvPrinterService::getMultipleApi() {
    return notServedResult();
}

std::string cKvPrinterService::getAreaCodeApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPrinterTypeApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPrintQualityApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPrinterHighLevelInfoApi() {
    return notServedResult();
}

std::string cKvPrinterService::getPrinterBluetoothAddressApi() {
    return notServedResult();
}
