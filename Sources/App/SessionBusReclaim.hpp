#pragma once

#include "Platform/Executor.hpp"

#include <cstdint>
#include <functional>
#include <optional>

namespace quorvane {

// Gets the running app back on a session bus that went away (the bus restarted, the user's session
// manager replaced it): one line in the log, then attempts with a doubling wait, so a bus that stays
// away costs nothing.
class SessionBusReclaim {
public:
    static constexpr std::int64_t firstWaitMilliseconds = 1000;
    static constexpr std::int64_t longestWaitMilliseconds = 60000;

    // `attempt` tries once to be back on the bus with the name; true when it is.
    SessionBusReclaim(MainExecutor& executor, std::function<bool()> attempt);
    ~SessionBusReclaim();
    SessionBusReclaim(const SessionBusReclaim&) = delete;
    SessionBusReclaim& operator=(const SessionBusReclaim&) = delete;

    // The bus is gone; a loss already being reclaimed changes nothing.
    void lost();
    bool reclaiming() const { return timer_.has_value(); }

private:
    void wait(std::int64_t milliseconds);
    void tryNow();

    MainExecutor& executor_;
    std::function<bool()> attempt_;
    std::optional<MainExecutor::TimerID> timer_;
    std::int64_t nextWait_ = firstWaitMilliseconds;
};

} // namespace quorvane
