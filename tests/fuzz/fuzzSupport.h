// Shared by the fuzz targets: quiet logging, a drawing bridge over the real stand-in libraries,
// and a check that stops the run with a message when an expectation fails.
#pragma once

#include <glog/logging.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "kvImageGallery/kvPrinterSdkThirdApi.h"

namespace kvfuzz {

// Every request is logged at INFO; at millions of inputs that is most of the run time.
inline void quietLogging() {
    FLAGS_minloglevel = google::GLOG_FATAL;
}

// A failed expectation is a finding like a crash: libFuzzer keeps the input that caused it.
inline void check(bool condition, const char* what, const std::string& detail = "") {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.c_str());
    std::abort();
}

// The bridge with the canvas and renderer stand-ins of the fuzz build's bin folder, which is
// this program's own folder.
inline std::unique_ptr<kvPrinterSdkThirdApi> realBridge() {
    auto bridge = std::make_unique<kvPrinterSdkThirdApi>();
    bridge->loadLibrary();
    check(bridge->libraryApi != nullptr, "the canvas and renderer stand-ins load from the program's folder");
    // Font folders stay added to fontconfig for the life of the process, and a folder such as "/"
    // would have it scan the whole file system: the fuzzer's folders are not handed on.
    bridge->libraryApi->initFontsFilePath = [](const char*) { return 0; };
    return bridge;
}

}  // namespace kvfuzz
