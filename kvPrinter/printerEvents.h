// The printer SDK's event callback and the two counters through which the picture print waits.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> printedCopyCount;
extern std::atomic<int32_t> printErrorCode;

void printerEventCallback(void* eventData, int32_t eventType);
