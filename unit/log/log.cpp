#include "unit/log/log.h"

#include <glog/logging.h>

#include <iostream>

#include "platform/platform.h"

namespace {

const char* const kMarkerFile = "velmoroSdk.ini";
const char* const kLogFolder = "velmoroSecondaryDevelopSDKLog";

}  // namespace

bool initLogFromConfig() {
    // Only the marker's presence counts; its contents are never read.
    const std::string marker = platform::programFolder() + "/" + kMarkerFile;
    if (!platform::fileExists(marker)) return false;

    std::string dir;
    const std::string appData = platform::commonAppDataFolder();
    if (!appData.empty()) dir = appData + "/" + kLogFolder;
    initLog(dir);
    return true;
}

void initLog(std::string dir) {
    if (!platform::fileExists(dir)) {
        std::cout << dir << " is not existing" << std::endl;
        std::cout << (platform::makeDirectory(dir) ? "make successfully" : "make failed") << std::endl;
    }

    // Initialising twice would abort; after unInitLog the library may be initialised again.
    if (!google::IsGoogleLoggingInitialized()) google::InitGoogleLogging("kvPrinter");

    // Set before the first line is logged: the library opens its files on the first line.
    FLAGS_log_dir = dir;
    FLAGS_stderrthreshold = 2;
    FLAGS_colorlogtostderr = false;
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 2;
    FLAGS_stop_logging_if_full_disk = true;

    LOG(INFO) << "initLog()";
    LOG(INFO) << "log dir:" << dir;
}

void unInitLog() {
    LOG(INFO) << "unInitLog()";
    google::ShutdownGoogleLogging();
}
