#pragma once

#include <memory>
#include <string>

namespace quorvane {

enum class LogLevel { debug, info, defaultLevel, error, fault };

const char* logLevelName(LogLevel level);

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level;
    std::string message;
};

// Where log records go. The default writes one line per record to standard error, which journald
// keeps when the process runs under systemd.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

class Logger {
public:
    Logger(std::string subsystem, std::string category);

    void log(LogLevel level, const std::string& message) const;
    void info(const std::string& message) const { log(LogLevel::info, message); }
    void notice(const std::string& message) const { log(LogLevel::defaultLevel, message); }
    void error(const std::string& message) const { log(LogLevel::error, message); }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    // Replaces the process-wide sink; a null sink restores standard error. Returns the previous one.
    static std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);

private:
    std::string subsystem_;
    std::string category_;
};

} // namespace quorvane
