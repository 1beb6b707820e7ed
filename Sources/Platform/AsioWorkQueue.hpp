#pragma once

#include "Platform/AsioRepeatingTimers.hpp"
#include "Platform/Executor.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <string>
#include <thread>

namespace quorvane {

// A serial queue with a thread of its own: posted work and timer ticks run there one at a time, in
// order. The thread blocks the termination signals, which stay with the main loop. Destroying the
// queue cancels its timers, lets the work already posted finish and joins the thread; do not
// destroy it from its own thread.
class AsioWorkQueue final : public MainExecutor {
public:
    explicit AsioWorkQueue(std::string label);
    ~AsioWorkQueue() override;
    AsioWorkQueue(const AsioWorkQueue&) = delete;
    AsioWorkQueue& operator=(const AsioWorkQueue&) = delete;

    void post(std::function<void()> task) override;
    TimerID scheduleRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) override;
    void cancel(TimerID timer) override;

    const std::string& label() const { return label_; }
    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    std::string label_;
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    AsioRepeatingTimers timers_;
    std::thread thread_;
};

} // namespace quorvane
