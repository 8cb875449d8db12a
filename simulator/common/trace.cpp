#include "simulator/common/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kvsim {

TraceWriter::~TraceWriter() { close(); }

void TraceWriter::openFromEnvironment() {
    close();
    const char* path = std::getenv("KVSIM_TRACE");
    if (path == nullptr || path[0] == '\0') return;
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void TraceWriter::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TraceWriter::write(const char* function, const Json::Value& args) {
    if (fd_ < 0) return;
    Json::Value line(Json::objectValue);
    line["lib"] = library_;
    line["fn"] = function;
    line["args"] = args.isArray() ? args : Json::Value(Json::arrayValue);
    const std::string text = Json::FastWriter().write(line);
    // One write per line: with O_APPEND the lines of the three libraries never interleave.
    ssize_t ignored = ::write(fd_, text.data(), text.size());
    (void)ignored;
}

std::string fieldText(const char* field, size_t width) {
    return std::string(field, strnlen(field, width));
}

}  // namespace kvsim
