#pragma once

#include "Platform/Executor.hpp"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace quorvane {

// Repeating timers on one io context, for the executors built on it. Scheduling and cancelling are
// safe from any thread: both are carried out on the context's thread, in call order. Ticks keep a
// fixed rhythm (each is due one period after the previous one was due, not after it ran); ticks
// missed while the process stood still are dropped.
class AsioRepeatingTimers {
public:
    explicit AsioRepeatingTimers(asio::io_context& context) : context_(context) {}
    AsioRepeatingTimers(const AsioRepeatingTimers&) = delete;
    AsioRepeatingTimers& operator=(const AsioRepeatingTimers&) = delete;

    MainExecutor::TimerID schedule(std::int64_t periodMilliseconds, std::function<void()> tick);
    void cancel(MainExecutor::TimerID timer);
    // Cancels every timer; call on the context's thread, or once it no longer runs.
    void cancelAll();

private:
    struct Timer {
        Timer(asio::io_context& context, std::chrono::milliseconds period, std::function<void()> tick)
            : timer(context), period(period), tick(std::move(tick)) {}
        asio::steady_timer timer;
        std::chrono::milliseconds period;
        std::function<void()> tick;
    };

    void arm(MainExecutor::TimerID id, const std::shared_ptr<Timer>& timer);

    asio::io_context& context_;
    std::atomic<MainExecutor::TimerID> nextID_{1};
    // Touched on the context's thread only.
    std::map<MainExecutor::TimerID, std::shared_ptr<Timer>> timers_;
};

} // namespace quorvane
