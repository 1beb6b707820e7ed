#pragma once

#include "Platform/DaemonRegistration.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvane::testing {

// The system's daemon record as the test sets it; registering lands in `statusAfterRegister`. With
// `holdRegistration` the answer waits, as while the system asks the user, until answerRegistration().
class FakeDaemonRegistration final : public DaemonRegistration {
public:
    int currentStatus = 0;
    int statusAfterRegister = 1;
    std::optional<std::string> registerFailure;
    std::optional<std::string> unregisterFailure;
    bool holdRegistration = false;
    int registerCalls = 0;
    int unregisterCalls = 0;

    int status() override { return currentStatus; }
    void registerDaemon(Completion completion) override {
        ++registerCalls;
        held_ = std::move(completion);
        if (!holdRegistration) {
            answerRegistration();
        }
    }
    bool registrationPending() const { return static_cast<bool>(held_); }
    void answerRegistration() {
        auto completion = std::exchange(held_, nullptr);
        if (registerFailure) {
            completion(std::make_exception_ptr(std::runtime_error(*registerFailure)));
            return;
        }
        currentStatus = statusAfterRegister;
        completion(nullptr);
    }
    void unregisterDaemon(Completion completion) override {
        ++unregisterCalls;
        if (unregisterFailure) {
            completion(std::make_exception_ptr(std::runtime_error(*unregisterFailure)));
            return;
        }
        currentStatus = 0;
        completion(nullptr);
    }

private:
    Completion held_;
};

} // namespace quorvane::testing
