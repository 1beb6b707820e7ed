#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace quorvane::testing {

// Values that other threads hand in, for the test to wait on with a generous bound.
template <typename T> class Collected {
public:
    void add(T value) {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(value));
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return values_.size() >= count; });
    }
    std::vector<T> values() {
        std::lock_guard lock(mutex_);
        return values_;
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return values_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> values_;
};

} // namespace quorvane::testing
