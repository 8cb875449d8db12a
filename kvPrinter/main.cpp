#include "kvPrinter/kvPrinterService.h"
#include "kvPrinter/printServer.h"

int main() {
    printerService = new cKvPrinterService();
    delete printerService;
    return 1;
}
