// Printer discovery over USB, Wi-Fi and Bluetooth.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::getUsbPrinterApi() {
    return notServedResult();
}

std::string cKvPrinterService::getWifiPrinterApi() {
    return notServedResult();
}

std::string cKvPrinterService::getBluetoothPrinterApi() {
    return notServedResult();
}
