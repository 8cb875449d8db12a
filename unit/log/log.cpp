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

std::ostream& operator<<(std::ostream& line, KeptInLog kept) {
    auto* logLine = dynamic_cast<google::LogMessage::LogStream*>(&line);
    // Any other stream, or a field width to fill, gets the whole text.
    if (logLine == nullptr || line.width() != 0) return line << kept.text;
    // Piece by piece until a piece no longer fits whole: the line is then full, and the library
    // would drop everything after it.
    constexpr size_t kPiece = 4096;
    std::string_view rest = kept.text;
    while (!rest.empty()) {
        const std::string_view piece = rest.substr(0, kPiece);
        const size_t before = logLine->pcount();
        line << piece;
        if (logLine->pcount() - before < piece.size()) break;
        rest.remove_prefix(piece.size());
    }
    return line;
}
