#pragma once

#include "PrivilegedHelper/EngineScheduler.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <memory>
#include <thread>

namespace quorvane {

// The engine's two queues as threads: one runs posted resets in order, the other ticks the lease
// watchdog. Signals stay with the main thread.
class AsioEngineScheduler final : public EngineScheduler {
public:
    AsioEngineScheduler();
    ~AsioEngineScheduler() override;
    AsioEngineScheduler(const AsioEngineScheduler&) = delete;
    AsioEngineScheduler& operator=(const AsioEngineScheduler&) = delete;

    void post(std::function<void()> task) override;
    void startRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) override;
    void stop() override;

private:
    void arm();

    using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

    asio::io_context control_;
    asio::io_context lease_;
    WorkGuard controlWork_;
    WorkGuard leaseWork_;
    asio::steady_timer timer_;
    std::chrono::milliseconds period_{0};
    std::function<void()> tick_;
    std::thread controlThread_;
    std::thread leaseThread_;
};

} // namespace quorvane
