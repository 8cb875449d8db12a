// Print jobs and the firmware upgrade.
#include "simulator/printerSdk/exports.h"
#include "simulator/printerSdk/world.h"

using kvsim::ExportCall;
using kvsim::traceArgs;
using kvsim::World;

SdkStatus startJob(JobStartInfo job) {
    return kvsim::action("startJob", traceArgs(kvsim::toJson(job)));
}

SdkStatus commitJob(PrintJobInfo page) {
    // The page's bytes are the caller's and valid only during this call.
    return kvsim::action("commitJob", traceArgs(kvsim::toJson(page)));
}

SdkStatus endJob() { return kvsim::action("endJob", traceArgs()); }
SdkStatus pausePrint() { return kvsim::action("pausePrint", traceArgs()); }
SdkStatus resumePrint() { return kvsim::action("resumePrint", traceArgs()); }
SdkStatus cancelJob() { return kvsim::action("cancelJob", traceArgs()); }

// The printer keeps the density a job asks for unless the scenario names another.
int32_t resetPrintDensity(int32_t density) {
    ExportCall call("resetPrintDensity", traceArgs(density));
    const Json::Value value = World::instance().injectedValue("resetPrintDensity");
    return value.isInt() ? value.asInt() : density;
}

SdkStatus upgradeFirmware(FirmwareUpgradeInfo firmware) {
    return kvsim::action("upgradeFirmware", traceArgs(kvsim::toJson(firmware)));
}
