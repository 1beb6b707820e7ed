#include "Platform/AsioMainExecutor.hpp"

#include <asio/post.hpp>

namespace quorvane {

AsioMainExecutor::AsioMainExecutor() : work_(asio::make_work_guard(context_)), timers_(context_) {}

AsioMainExecutor::~AsioMainExecutor() {
    timers_.cancelAll();
}

void AsioMainExecutor::post(std::function<void()> task) {
    asio::post(context_, std::move(task));
}

MainExecutor::TimerID AsioMainExecutor::scheduleRepeating(std::int64_t periodMilliseconds,
                                                          std::function<void()> tick) {
    return timers_.schedule(periodMilliseconds, std::move(tick));
}

void AsioMainExecutor::cancel(TimerID timer) {
    timers_.cancel(timer);
}

void AsioMainExecutor::run() {
    context_.run();
}

void AsioMainExecutor::stop() {
    context_.stop();
}

} // namespace quorvane
