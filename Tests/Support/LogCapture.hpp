#pragma once

#include "Helpers/Logger.hpp"

#include <memory>
#include <string>
#include <vector>

namespace quorvane::testing {

// Collects every log record while alive, then puts the previous sink back.
class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<Sink>()), previous_(Logger::setSink(sink_)) {}
    ~LogCapture() { Logger::setSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<LogRecord>& records() const { return sink_->records; }

    std::vector<std::string> messagesContaining(const std::string& fragment) const {
        std::vector<std::string> found;
        for (const auto& record : sink_->records) {
            if (record.message.find(fragment) != std::string::npos) {
                found.push_back(record.message);
            }
        }
        return found;
    }

private:
    struct Sink final : LogSink {
        std::vector<LogRecord> records;
        void write(const LogRecord& record) override { records.push_back(record); }
    };
    std::shared_ptr<Sink> sink_;
    std::shared_ptr<LogSink> previous_;
};

} // namespace quorvane::testing
