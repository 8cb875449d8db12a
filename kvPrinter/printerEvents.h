// The printer SDK's event callback and the two counters through which the picture print waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

extern std::atomic<int32_t> printedCopyCount;
extern std::atomic<int32_t> printErrorCode;

// Called by the SDK on a thread of its own: updates the counters, logs, and sends the event's
// message to the current client. Types outside the event table change nothing.
void printerEventCallback(void* eventData, int32_t eventType);

// The message text of an event (one line, keys sorted, newline at the end), or nothing for a type
// outside the event table. Reads the payload only during the call and changes nothing.
std::optional<std::string> printerEventMessage(const void* eventData, int32_t eventType);
