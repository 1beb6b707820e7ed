#pragma once

#include "App/TelemetrySource.hpp"
#include "Platform/LaunchAtLogin.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/PowerMonitor.hpp"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::testing {

// Telemetry the test hands out one read at a time.
class ScriptedTelemetry final : public TelemetrySource {
public:
    struct State {
        std::deque<Completion> reads;
        int readCount = 0;
        int closes = 0;
    };
    explicit ScriptedTelemetry(std::shared_ptr<State> state) : state_(std::move(state)) {}
    void open() override {}
    void close() override { ++state_->closes; }
    void read(Completion completion) override {
        ++state_->readCount;
        state_->reads.push_back(std::move(completion));
    }

private:
    std::shared_ptr<State> state_;
};

struct FakeNotificationCenter final : NotificationCenter {
    bool grant = true;
    std::vector<std::string> bodies;
    void requestAuthorization(std::function<void(bool, std::optional<std::string>)> answer) override {
        answer(grant, std::nullopt);
    }
    void deliver(const std::string&, const std::string&, const std::string& body,
                 std::function<void(std::optional<std::string>)> completion) override {
        bodies.push_back(body);
        completion(std::nullopt);
    }
};

struct FakePowerMonitor final : PowerMonitor {
    std::function<void()> willSleep, didWake;
    bool controlActive = false;
    // Sees each change as it happens.
    std::function<void(bool)> onControlActive;
    void start(std::function<void()> sleep, std::function<void()> wake) override {
        willSleep = std::move(sleep);
        didWake = std::move(wake);
    }
    void setControlActive(bool active) override {
        controlActive = active;
        if (onControlActive) {
            onControlActive(active);
        }
    }
};

struct FakeLaunchAtLogin final : LaunchAtLogin {
    bool enabled = false;
    std::optional<std::string> failure;
    bool isEnabled() override { return enabled; }
    void setEnabled(bool value) override {
        if (failure) {
            throw std::runtime_error(*failure);
        }
        enabled = value;
    }
};

} // namespace quorvane::testing
