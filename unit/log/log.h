// The log set-up: file logging only when the marker file stands beside the program.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

bool initLogFromConfig();
void initLog(std::string dir);
void unInitLog();

// A text for a log line, of which only what the line keeps is streamed: the logging library keeps
// the first 29,998 bytes of a line, its header included, and drops the rest byte by byte, which
// for a request of megabytes costs more than the request itself.
//     LOG(INFO) << "[INFO]:" << "receive msg is " << keptInLog(message);
struct KeptInLog {
    std::string_view text;
};
inline KeptInLog keptInLog(std::string_view text) {
    return {text};
}
// The line is the same as with the whole text streamed.
std::ostream& operator<<(std::ostream& line, KeptInLog kept);
