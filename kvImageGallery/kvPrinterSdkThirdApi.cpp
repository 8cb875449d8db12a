// (Being built: the drawing bridge.)
#include "kvImageGallery/kvPrinterSdkThirdApi.h"

kvPrinterSdkThirdApi::kvPrinterSdkThirdApi() = default;
kvPrinterSdkThirdApi::~kvPrinterSdkThirdApi() = default;
void kvPrinterSdkThirdApi::loadLibrary() {}
std::string kvPrinterSdkThirdApi::callDrawApi(std::string) { return {}; }
