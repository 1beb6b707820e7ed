#pragma once

#include <stdexcept>

namespace quorvane {

// Runs a refresh at most once at a time; any number of requests during a run collapse into one re-run.
class CoalescedRefreshState {
public:
    // True: start the work now.
    bool request() {
        if (isRunning_) {
            needsRefresh_ = true;
            return false;
        }
        isRunning_ = true;
        return true;
    }

    // True: run the work once more now. Calling it while nothing runs is a programming error.
    bool complete() {
        if (!isRunning_) {
            throw std::logic_error("CoalescedRefreshState::complete() called while no refresh is running");
        }
        if (needsRefresh_) {
            needsRefresh_ = false;
            return true;
        }
        isRunning_ = false;
        return false;
    }

    bool isRunning() const { return isRunning_; }
    bool needsRefresh() const { return needsRefresh_; }

private:
    bool isRunning_ = false;
    bool needsRefresh_ = false;
};

} // namespace quorvane
