// Connecting and closing a printer.
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::connectUsbPrinterApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::connectWifiPrinterApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::connectBluetoothPrinterApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::closePrinterApi() {
    return notServedResult();
}
