#include "PrivilegedHelper/AsioEngineScheduler.hpp"

#include "Platform/SignalFreeThread.hpp"

#include <asio/post.hpp>

namespace quorvane {

AsioEngineScheduler::AsioEngineScheduler()
    : controlWork_(asio::make_work_guard(control_)), leaseWork_(asio::make_work_guard(lease_)),
      timer_(lease_) {
    controlThread_ = startSignalFreeThread([this] { control_.run(); });
    leaseThread_ = startSignalFreeThread([this] { lease_.run(); });
}

AsioEngineScheduler::~AsioEngineScheduler() {
    stop();
}

void AsioEngineScheduler::post(std::function<void()> task) {
    asio::post(control_, std::move(task));
}

void AsioEngineScheduler::startRepeating(std::int64_t periodMilliseconds, std::function<void()> tick) {
    asio::post(lease_, [this, periodMilliseconds, tick = std::move(tick)]() mutable {
        period_ = std::chrono::milliseconds(periodMilliseconds);
        tick_ = std::move(tick);
        arm();
    });
}

void AsioEngineScheduler::arm() {
    timer_.expires_after(period_);
    timer_.async_wait([this](const std::error_code& error) {
        if (error || !tick_) {
            return;
        }
        tick_();
        arm();
    });
}

void AsioEngineScheduler::stop() {
    if (!leaseThread_.joinable() && !controlThread_.joinable()) {
        return;
    }
    asio::post(lease_, [this] {
        tick_ = nullptr;
        timer_.cancel();
    });
    leaseWork_.reset();
    controlWork_.reset();
    // The lease thread finishes once its timer is cancelled; resets already queued run to the end.
    if (leaseThread_.joinable()) {
        leaseThread_.join();
    }
    if (controlThread_.joinable()) {
        controlThread_.join();
    }
}

} // namespace quorvane
