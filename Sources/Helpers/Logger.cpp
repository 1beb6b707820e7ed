#include "Helpers/Logger.hpp"

#include <cstdio>
#include <mutex>

namespace quorvane {

namespace {

class StandardErrorSink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::string line = record.subsystem + " [" + record.category + "] " + logLevelName(record.level) +
                           ": " + record.message + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
};

std::mutex sinkMutex;
std::shared_ptr<LogSink>& currentSink() {
    static std::shared_ptr<LogSink> sink = std::make_shared<StandardErrorSink>();
    return sink;
}

} // namespace

const char* logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::defaultLevel:
        return "default";
    case LogLevel::error:
        return "error";
    case LogLevel::fault:
        return "fault";
    }
    return "default";
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void Logger::log(LogLevel level, const std::string& message) const {
    std::shared_ptr<LogSink> sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = currentSink();
    }
    sink->write(LogRecord{subsystem_, category_, level, message});
}

std::shared_ptr<LogSink> Logger::setSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex);
    auto previous = currentSink();
    currentSink() = sink ? std::move(sink) : std::make_shared<StandardErrorSink>();
    return previous;
}

} // namespace quorvane
