#pragma once

#include "Platform/DaemonRegistration.hpp"

#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane::testing {

// The system's daemon record as the test sets it; registering lands in `statusAfterRegister`.
class FakeDaemonRegistration final : public DaemonRegistration {
public:
    int currentStatus = 0;
    int statusAfterRegister = 1;
    std::optional<std::string> registerFailure;
    std::optional<std::string> unregisterFailure;
    int registerCalls = 0;
    int unregisterCalls = 0;

    int status() override { return currentStatus; }
    void registerDaemon() override {
        ++registerCalls;
        if (registerFailure) {
            throw std::runtime_error(*registerFailure);
        }
        currentStatus = statusAfterRegister;
    }
    void unregisterDaemon(std::function<void(std::exception_ptr)> completion) override {
        ++unregisterCalls;
        if (unregisterFailure) {
            completion(std::make_exception_ptr(std::runtime_error(*unregisterFailure)));
            return;
        }
        currentStatus = 0;
        completion(nullptr);
    }
};

} // namespace quorvane::testing
