// Collects the service's log messages (glog) while it lives, for tests that check log lines.
#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

class LogCapture : public google::LogSink {
public:
    LogCapture() { google::AddLogSink(this); }
    ~LogCapture() override { google::RemoveLogSink(this); }

    void send(google::LogSeverity severity, const char*, const char*, int, const struct ::tm*,
              const char* message, size_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({severity, std::string(message, length)});
    }

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto& line : lines_) out.push_back(line.text);
        return out;
    }
    // True when some message contains the text.
    bool contains(const std::string& text) const {
        for (const std::string& m : messages()) {
            if (m.find(text) != std::string::npos) return true;
        }
        return false;
    }
    int count(const std::string& text) const {
        int n = 0;
        for (const std::string& m : messages()) n += m.find(text) != std::string::npos ? 1 : 0;
        return n;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    struct Line {
        google::LogSeverity severity;
        std::string text;
    };
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};
