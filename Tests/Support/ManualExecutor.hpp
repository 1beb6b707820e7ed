#pragma once

#include "Helpers/Clock.hpp"
#include "Platform/Executor.hpp"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace quorvane::testing {

// A main executor that runs nothing until the test says so. Time is a virtual clock: advancing it
// fires every timer tick that falls due on the way, in due order, each followed by the work it posts.
// A timer whose ticks the clock jumped past (moved by someone else) fires once, then keeps its
// period from there, as a real timer does after the process stood still.
// Posting is safe from any thread; running happens on the test's thread.
class ManualExecutor final : public MainExecutor {
public:
    explicit ManualExecutor(VirtualClock& clock) : clock_(clock) {}

    void post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    TimerID scheduleRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) override {
        std::lock_guard lock(mutex_);
        const std::int64_t period = std::max<std::int64_t>(periodMilliseconds, 1);
        timers_[nextTimer_] = Timer{period, clock_.nowMilliseconds() + period, std::move(tick)};
        return nextTimer_++;
    }
    void cancel(TimerID timer) override {
        std::lock_guard lock(mutex_);
        timers_.erase(timer);
    }

    // Runs everything posted so far, and whatever that posts. Returns how many tasks ran.
    int runPending() {
        int ran = 0;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    return ran;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            ++ran;
        }
    }

    // Moves the clock forward, firing due ticks on the way.
    void advance(std::int64_t milliseconds) {
        const std::int64_t end = clock_.nowMilliseconds() + milliseconds;
        runPending();
        while (auto tick = takeDueTick(end)) {
            tick();
            runPending();
        }
        clock_.advance(end - clock_.nowMilliseconds());
    }

    std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    std::size_t timerCount() const {
        std::lock_guard lock(mutex_);
        return timers_.size();
    }

private:
    struct Timer {
        std::int64_t period = 0;
        std::int64_t due = 0;
        std::function<void()> tick;
    };

    // The earliest tick due by `end` (ties in scheduling order), with the clock moved to it.
    std::function<void()> takeDueTick(std::int64_t end) {
        std::lock_guard lock(mutex_);
        auto next = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
            return a.second.due < b.second.due;
        });
        if (next == timers_.end() || next->second.due > end) {
            return nullptr;
        }
        clock_.advance(next->second.due - clock_.nowMilliseconds());
        next->second.due = std::max(next->second.due, clock_.nowMilliseconds()) + next->second.period;
        return next->second.tick;
    }

    VirtualClock& clock_;
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    std::map<TimerID, Timer> timers_;
    TimerID nextTimer_ = 1;
};

} // namespace quorvane::testing
