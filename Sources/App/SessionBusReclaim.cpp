#include "App/SessionBusReclaim.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"

#include <algorithm>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Setup");

} // namespace

SessionBusReclaim::SessionBusReclaim(MainExecutor& executor, std::function<bool()> attempt)
    : executor_(executor), attempt_(std::move(attempt)) {}

SessionBusReclaim::~SessionBusReclaim() {
    if (timer_) {
        executor_.cancel(*timer_);
    }
}

void SessionBusReclaim::lost() {
    if (timer_) {
        return;
    }
    logger.error("lost the session bus; scripts cannot reach Quorvane until it is back");
    nextWait_ = firstWaitMilliseconds;
    wait(nextWait_);
}

void SessionBusReclaim::wait(std::int64_t milliseconds) {
    timer_ = executor_.scheduleRepeating(milliseconds, [this] { tryNow(); });
}

void SessionBusReclaim::tryNow() {
    executor_.cancel(*timer_);
    timer_.reset();
    if (attempt_()) {
        logger.notice("back on the session bus");
        return;
    }
    nextWait_ = std::min(nextWait_ * 2, longestWaitMilliseconds);
    wait(nextWait_);
}

} // namespace quorvane
