#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace quorvane::testing {

// Polls a condition until it holds or the deadline passes; for state another thread or process
// changes. The deadline is a generous liveness bound, never a measurement.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace quorvane::testing
