// Start and end of the SDK, the callback, memory given back, and the exports that nothing calls.
#include "simulator/printerSdk/exports.h"
#include "simulator/printerSdk/world.h"

using kvsim::ExportCall;
using kvsim::World;

using kvsim::traceArgs;

void initSdk() {
    World::instance().start();
    ExportCall call("initSdk", traceArgs());
}

void unInitSdk() {
    {
        ExportCall call("unInitSdk", traceArgs());
    }
    World::instance().stop();
}

void registCallback(SdkEventCallback callback) {
    ExportCall call("registCallback", traceArgs(callback != nullptr));
    World& world = World::instance();
    std::lock_guard<std::mutex> lock(world.mutex);
    world.callback = callback;
}

void freeData(void* pointer) {
    // The trace tells whether the pointer was one of ours.
    const bool ours = World::instance().takeBack(pointer);
    ExportCall call("freeData", traceArgs(ours));
}

void freeDatas(void** pointers, int32_t count) {
    ExportCall call("freeDatas", traceArgs(count));
    for (int32_t i = 0; pointers != nullptr && i < count; ++i) World::instance().takeBack(pointers[i]);
}

SdkStatus startJobEx(JobStartInfo job) {
    ExportCall call("startJobEx", traceArgs(kvsim::toJson(job)));
    return call.printerStatus();
}

SdkStatus commitJobEx(PrintJobInfo page) {
    ExportCall call("commitJobEx", traceArgs(kvsim::toJson(page)));
    return call.printerStatus();
}

SdkStatus testPrinterConnect() {
    ExportCall call("testPrinterConnect", traceArgs());
    return call.printerStatus();
}

SdkStatus setTubeInfo(int32_t value) {
    ExportCall call("setTubeInfo", traceArgs(value));
    return call.printerStatus();
}
