#include "Platform/AsioWorkQueue.hpp"

#include "Platform/SignalFreeThread.hpp"

#include <asio/post.hpp>
#include <csignal>
#include <pthread.h>

namespace quorvane {

AsioWorkQueue::AsioWorkQueue(std::string label)
    : label_(std::move(label)), work_(asio::make_work_guard(context_)), timers_(context_) {
    thread_ = startSignalFreeThread([this] { context_.run(); });
    // Thread names are limited to 15 characters; the end of a label is its distinctive part.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(thread_.native_handle(), name.c_str());
}

AsioWorkQueue::~AsioWorkQueue() {
    asio::post(context_, [this] { timers_.cancelAll(); });
    work_.reset();
    thread_.join();
}

void AsioWorkQueue::post(std::function<void()> task) {
    asio::post(context_, std::move(task));
}

MainExecutor::TimerID AsioWorkQueue::scheduleRepeating(std::int64_t periodMilliseconds,
                                                       std::function<void()> tick) {
    return timers_.schedule(periodMilliseconds, std::move(tick));
}

void AsioWorkQueue::cancel(TimerID timer) {
    timers_.cancel(timer);
}

} // namespace quorvane
