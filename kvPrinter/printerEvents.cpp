#include "kvPrinter/printerEvents.h"

std::atomic<int32_t> printedCopyCount{0};
std::atomic<int32_t> printErrorCode{0};

void printerEventCallback(void* /*eventData*/, int32_t /*eventType*/) {}
