// The drawing set-up: "initSdk" and "initImageProcessing".
#include "kvPrinter/kvPrinterService.h"

std::string cKvPrinterService::initSdkApi(std::string /*request*/) {
    return notServedResult();
}

std::string cKvPrinterService::initImageProcessingApi(std::string /*request*/) {
    return notServedResult();
}
