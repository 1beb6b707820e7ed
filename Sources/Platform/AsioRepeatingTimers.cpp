#include "Platform/AsioRepeatingTimers.hpp"

#include <algorithm>
#include <asio/post.hpp>

namespace quorvane {

MainExecutor::TimerID AsioRepeatingTimers::schedule(std::int64_t periodMilliseconds,
                                                    std::function<void()> tick) {
    const auto id = nextID_++;
    const auto period = std::chrono::milliseconds(std::max<std::int64_t>(periodMilliseconds, 1));
    asio::post(context_, [this, id, period, tick = std::move(tick)]() mutable {
        auto timer = std::make_shared<Timer>(context_, period, std::move(tick));
        timer->timer.expires_after(period);
        timers_[id] = timer;
        arm(id, timer);
    });
    return id;
}

void AsioRepeatingTimers::cancel(MainExecutor::TimerID timer) {
    asio::post(context_, [this, timer] {
        if (auto found = timers_.find(timer); found != timers_.end()) {
            found->second->timer.cancel();
            timers_.erase(found);
        }
    });
}

void AsioRepeatingTimers::cancelAll() {
    for (auto& [id, timer] : timers_) {
        timer->timer.cancel();
    }
    timers_.clear();
}

void AsioRepeatingTimers::arm(MainExecutor::TimerID id, const std::shared_ptr<Timer>& timer) {
    timer->timer.async_wait([this, id, weak = std::weak_ptr<Timer>(timer)](const asio::error_code& error) {
        auto timer = weak.lock();
        // A tick that was already due when its timer was cancelled must not run.
        if (error || !timer || !timers_.contains(id)) {
            return;
        }
        timer->tick();
        if (timers_.contains(id)) {
            // Ticks missed while the process stood still (a suspended machine) are skipped, not
            // fired in a burst.
            const auto now = asio::steady_timer::clock_type::now();
            const auto next = timer->timer.expiry() + timer->period;
            timer->timer.expires_at(next > now ? next : now + timer->period);
            arm(id, timer);
        }
    });
}

} // namespace quorvane
