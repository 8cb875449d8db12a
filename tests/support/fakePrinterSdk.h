// A fake printer SDK for unit tests: fills the binding's table with functions that record every
// call (name and arguments, records as JSON objects keyed by their fields) and answer what the
// test set, or a zero result (success) by default.
#pragma once

#include <json/json.h>

#include <any>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kvPrinter/printerSdkBinding.h"

struct FakeSdkCall {
    std::string name;
    Json::Value args;  // array
};

class FakePrinterSdk {
public:
    static FakePrinterSdk& instance();

    // Fills printerSdk with the fakes and forgets every call, result and hand-out.
    void install();
    // A loader for cKvPrinterService(bool (*)()): installs the fakes and succeeds.
    static bool load();

    // What an export answers from now on (Result must be the export's result type).
    template <typename Result>
    void setResult(const std::string& exportName, Result result) {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[exportName] = std::vector<std::any>{result};
    }
    // Answers for consecutive calls; the last one repeats.
    template <typename Result>
    void setResults(const std::string& exportName, std::vector<Result> sequence) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::any>& slot = results_[exportName];
        slot.clear();
        for (Result& r : sequence) slot.emplace_back(r);
    }
    template <typename Result>
    Result resultFor(const std::string& exportName) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = results_.find(exportName);
        if (found == results_.end() || found->second.empty()) return Result{};
        size_t& next = resultIndex_[exportName];
        const size_t index = std::min(next, found->second.size() - 1);
        ++next;
        return std::any_cast<Result>(found->second[index]);
    }

    // Memory "owned by the SDK": handed out to the service and given back through freeData.
    char* handOutText(const std::string& text);
    void* handOut(const void* bytes, size_t size);
    // True when every pointer handed out has been given back.
    bool allGivenBack() const;

    void record(const std::string& name, Json::Value args);
    std::vector<FakeSdkCall> calls() const;
    // Names of the calls in order, optionally only those not in `ignored`.
    std::vector<std::string> callNames() const;
    int callCount(const std::string& name) const;
    // The arguments of the last call of an export (null when it was not called).
    Json::Value lastArgs(const std::string& name) const;
    void clearCalls();

    // For the fake freeData: true when the pointer was handed out and not yet given back.
    bool takeBack(void* pointer);

private:
    mutable std::mutex mutex_;
    std::vector<FakeSdkCall> calls_;
    std::map<std::string, std::vector<std::any>> results_;
    std::map<std::string, size_t> resultIndex_;
    std::set<void*> handedOut_;
};
