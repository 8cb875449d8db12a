#include "tests/support/fakePrinterSdk.h"

#include "simulator/common/recordJson.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

Json::Value describe(int32_t value) { return value; }
Json::Value describe(float value) { return static_cast<double>(value); }
Json::Value describe(const void* pointer) { return pointer != nullptr; }

Json::Value describe(const UsbPrinterInfo& p) { return kvsim::toJson(p); }
Json::Value describe(const WifiPrinterInfo& p) { return kvsim::toJson(p); }
Json::Value describe(const BluetoothPrinterInfo& p) { return kvsim::toJson(p); }
Json::Value describe(const JobStartInfo& j) { return kvsim::toJson(j); }
Json::Value describe(const PrinterTimeInfo& t) { return kvsim::toJson(t); }

Json::Value describe(const PrintJobInfo& p) {
    Json::Value v = kvsim::toJson(p);
    v["imageData"] = p.imageData != nullptr;
    v["epcLastByte"] = static_cast<int>(p.epc[sizeof p.epc - 1]);
    return v;
}

Json::Value describe(const FirmwareUpgradeInfo& f) {
    Json::Value v = kvsim::toJson(f);
    v["fileData"] = f.fileData != nullptr;
    return v;
}

// Whether a text field holds only zero bytes after its text (the record was zero-filled).
bool zeroFilledAfterText(const char* field, size_t width) {
    for (size_t i = strnlen(field, width); i < width; ++i) {
        if (field[i] != 0) return false;
    }
    return true;
}

Json::Value describe(const WifiConfigInfo& c) {
    Json::Value v = kvsim::toJson(c);
    v["zeroFilled"] = zeroFilledAfterText(c.wifiName, sizeof c.wifiName) &&
                      zeroFilledAfterText(c.wifiPassword, sizeof c.wifiPassword);
    return v;
}

template <typename T>
Json::Value describeAny(const T& value) {
    if constexpr (std::is_pointer_v<T>) {
        return describe(reinterpret_cast<const void*>(value));
    } else {
        return describe(value);
    }
}

// One fake per export, told apart by the export's position in the list.
template <int Index, typename Function>
struct FakeExport;

template <int Index, typename Result, typename... Params>
struct FakeExport<Index, Result (*)(Params...)> {
    static const char* exportName;
    static Result call(Params... params) {
        Json::Value args(Json::arrayValue);
        (args.append(describeAny(params)), ...);
        FakePrinterSdk::instance().record(exportName, args);
        if constexpr (!std::is_void_v<Result>) return FakePrinterSdk::instance().resultFor<Result>(exportName);
    }
};

enum ExportIndex {
#define KV_FAKE_INDEX(name, result, params) index_##name,
    KV_PRINTER_SDK_EXPORTS(KV_FAKE_INDEX)
#undef KV_FAKE_INDEX
};

#define KV_FAKE_NAME(n, result, params) \
    template <>                          \
    const char* FakeExport<index_##n, decltype(PrinterSdkBinding::n)>::exportName = #n;
KV_PRINTER_SDK_EXPORTS(KV_FAKE_NAME)
#undef KV_FAKE_NAME

// The fake freeData also tells whether the pointer was the SDK's.
void fakeFreeData(void* pointer) {
    const bool ours = FakePrinterSdk::instance().takeBack(pointer);
    Json::Value args(Json::arrayValue);
    args.append(ours);
    FakePrinterSdk::instance().record("freeData", args);
}

}  // namespace

FakePrinterSdk& FakePrinterSdk::instance() {
    static FakePrinterSdk fake;
    return fake;
}

void FakePrinterSdk::install() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
        results_.clear();
        resultIndex_.clear();
        for (void* p : handedOut_) std::free(p);
        handedOut_.clear();
    }
    // The main program's handle stands for the library: releasing it is harmless.
    printerSdk.module = dlopen(nullptr, RTLD_NOW);
#define KV_FAKE_FILL(name, result, params) \
    printerSdk.name = &FakeExport<index_##name, decltype(PrinterSdkBinding::name)>::call;
    KV_PRINTER_SDK_EXPORTS(KV_FAKE_FILL)
#undef KV_FAKE_FILL
    printerSdk.freeData = &fakeFreeData;
}

bool FakePrinterSdk::load() {
    instance().install();
    return true;
}

char* FakePrinterSdk::handOutText(const std::string& text) {
    return static_cast<char*>(handOut(text.c_str(), text.size() + 1));
}

void* FakePrinterSdk::handOut(const void* bytes, size_t size) {
    void* memory = std::calloc(size == 0 ? 1 : size, 1);
    if (bytes != nullptr && size != 0) std::memcpy(memory, bytes, size);
    std::lock_guard<std::mutex> lock(mutex_);
    handedOut_.insert(memory);
    return memory;
}

bool FakePrinterSdk::allGivenBack() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handedOut_.empty();
}

bool FakePrinterSdk::takeBack(void* pointer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pointer == nullptr || handedOut_.erase(pointer) == 0) return false;
    }
    std::free(pointer);
    return true;
}

void FakePrinterSdk::record(const std::string& name, Json::Value args) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({name, std::move(args)});
}

std::vector<FakeSdkCall> FakePrinterSdk::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakePrinterSdk::callNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const FakeSdkCall& c : calls_) names.push_back(c.name);
    return names;
}

int FakePrinterSdk::callCount(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    for (const FakeSdkCall& c : calls_) count += c.name == name ? 1 : 0;
    return count;
}

Json::Value FakePrinterSdk::lastArgs(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->name == name) return it->args;
    }
    return Json::Value();
}

void FakePrinterSdk::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}
