#pragma once

#include "Platform/AsioRepeatingTimers.hpp"
#include "Platform/Executor.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

namespace quorvane {

// The headless app's main loop: work and timers run on the thread that calls run(), until stop().
// post, scheduleRepeating, cancel and stop are safe from any thread. Signal sets and other asio
// objects of the app attach to context().
class AsioMainExecutor final : public MainExecutor {
public:
    AsioMainExecutor();
    ~AsioMainExecutor() override;
    AsioMainExecutor(const AsioMainExecutor&) = delete;
    AsioMainExecutor& operator=(const AsioMainExecutor&) = delete;

    void post(std::function<void()> task) override;
    TimerID scheduleRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) override;
    void cancel(TimerID timer) override;

    // Returns once stop() was called; work still queued then does not run. A stop() that came
    // before run() makes it return at once.
    void run();
    void stop();

    asio::io_context& context() { return context_; }

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    AsioRepeatingTimers timers_;
};

} // namespace quorvane
