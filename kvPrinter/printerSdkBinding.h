// The binding to the printer SDK: one process-wide table of the library's exports, filled all or
// nothing by loadPrinterSdk. Every call goes through callSdk, which serialises the calls (the
// disconnect thread calls the SDK while the worker may be inside another).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "sdk/kvPrinterSdk.h"

struct PrinterSdkBinding {
    void* module = nullptr;  // null: not loaded

#define KV_SDK_TABLE_ENTRY(name, result, params) result(*name) params = nullptr;
    KV_PRINTER_SDK_EXPORTS(KV_SDK_TABLE_ENTRY)
#undef KV_SDK_TABLE_ENTRY
};

extern PrinterSdkBinding printerSdk;

// Loads libkvPrinterSdk.so by its bare name and resolves all 72 exports.
bool loadPrinterSdk();
// The same with another library name or path (tests load their own small libraries).
bool loadPrinterSdk(const std::string& libraryName);
// Releases the library and clears the table.
void unloadPrinterSdk();
bool printerSdkLoaded();

std::mutex& printerSdkCallMutex();

template <typename Result, typename... Params, typename... Args>
Result callSdk(Result (*function)(Params...), Args&&... args) {
    std::lock_guard<std::mutex> lock(printerSdkCallMutex());
    return function(std::forward<Args>(args)...);
}

// Memory that the SDK handed out (a list, a text): given back with freeData when its owner goes,
// on every path; a null pointer is not handed over.
struct SdkMemoryRelease {
    void operator()(void* pointer) const { callSdk(printerSdk.freeData, pointer); }
};
template <typename T>
using SdkOwned = std::unique_ptr<T, SdkMemoryRelease>;
