// The printer SDK's records as the trace writes them: objects keyed by their fields, texts up to
// their zero byte. The simulated SDK traces with these; the tests' fake SDK records the same.
#pragma once

#include <json/json.h>

#include "sdk/kvPrinterSdk.h"

namespace kvsim {

Json::Value toJson(const UsbPrinterInfo& printer);
Json::Value toJson(const WifiPrinterInfo& printer);
Json::Value toJson(const BluetoothPrinterInfo& printer);
Json::Value toJson(const JobStartInfo& job);
Json::Value toJson(const PrintJobInfo& page);
Json::Value toJson(const PrinterTimeInfo& time);
Json::Value toJson(const WifiConfigInfo& config);
Json::Value toJson(const FirmwareUpgradeInfo& firmware);

}  // namespace kvsim
