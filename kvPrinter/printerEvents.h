// The printer SDK's event callback and the two counters through which the picture print waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

// The copy number of the last progress event of the page that a picture print waits for.
extern std::atomic<int32_t> printedCopyCount;
extern std::atomic<int32_t> printErrorCode;
// Every progress event so far, whichever page it reports: the printer making progress.
extern std::atomic<uint32_t> printProgressCount;

// The copies handed to the printer and not yet reported printed. The printer prints pages in the
// order they were committed and numbers each page's copies from 1 (a page outside a job is page 1
// of a job of its own), so the copies of the page that a picture print waits for are told by their
// place: those reported after every copy committed before it.
// Called before the page goes to the SDK, which may report its first copy before it returns. With
// `awaited`, the page's copies are the ones that printedCopyCount follows, from 0.
void copiesCommitting(int32_t copies, bool awaited);
// The SDK refused the page: none of its copies will come.
void copiesRefused(int32_t copies);
// The printer dropped every copy not yet printed (a cancel, a close, a print error that cancels).
void copiesDropped();

// Called by the SDK on a thread of its own: updates the counters, logs, and sends the event's
// message to the current client. Types outside the event table change nothing.
void printerEventCallback(void* eventData, int32_t eventType);

// The message text of an event (one line, keys sorted, newline at the end), or nothing for a type
// outside the event table. Reads the payload only during the call and changes nothing.
std::optional<std::string> printerEventMessage(const void* eventData, int32_t eventType);
