#pragma once

#include "PrivilegedHelper/EngineScheduler.hpp"

#include <deque>
#include <functional>

namespace quorvane::testing {

// Runs posted work and watchdog ticks only when the test says so.
class ManualEngineScheduler final : public EngineScheduler {
public:
    void post(std::function<void()> task) override { tasks_.push_back(std::move(task)); }
    void startRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) override {
        period = periodMilliseconds;
        tick_ = std::move(tick);
    }
    void stop() override {
        tasks_.clear();
        tick_ = nullptr;
    }

    void tick() {
        if (tick_) {
            tick_();
        }
    }
    // Runs everything posted so far, and whatever that posts.
    void runPending() {
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            task();
        }
    }

    std::int64_t period = 0;

private:
    std::deque<std::function<void()>> tasks_;
    std::function<void()> tick_;
};

} // namespace quorvane::testing
