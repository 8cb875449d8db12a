// The call trace of the stand-in libraries: when KVSIM_TRACE names a file, every call of every
// export appends one JSON line {"lib":..,"fn":..,"args":[..]} to it.
#pragma once

#include <json/json.h>

#include <string>

namespace kvsim {

class TraceWriter {
public:
    explicit TraceWriter(const char* library) : library_(library) {}
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Opens the file that KVSIM_TRACE names (appending); closes the old one. No variable: no trace.
    void openFromEnvironment();
    void close();
    void write(const char* function, const Json::Value& args);

private:
    const char* library_;
    int fd_ = -1;
};

// The bytes of a fixed-width text field up to its zero byte (or the whole field).
std::string fieldText(const char* field, size_t width);

}  // namespace kvsim
