// Declarations of the simulated SDK's exports (their definitions are spread over the files of
// this folder by area).
#pragma once

#include "sdk/kvPrinterSdk.h"

#define KV_SIM_EXPORT __attribute__((visibility("default")))

extern "C" {
#define KV_SIM_DECLARE(name, result, params) KV_SIM_EXPORT result name params;
KV_PRINTER_SDK_EXPORTS(KV_SIM_DECLARE)
#undef KV_SIM_DECLARE
}
