#pragma once

#include "Platform/PowerMonitor.hpp"

#include <memory>
#include <optional>
#include <string>

namespace quorvane {

// Sleep and wake from logind's PrepareForSleep signal (true before sleeping, false after waking),
// received on a thread of its own, and a logind "delay" inhibitor for sleep held while the app
// controls the fans. Where no system bus can be reached (containers, CI) it does nothing. The
// handlers run on that thread.
class LogindPowerMonitor final : public PowerMonitor {
public:
    // Without an address: the system bus (DBUS_SYSTEM_BUS_ADDRESS, else its standard socket).
    explicit LogindPowerMonitor(std::optional<std::string> busAddress = std::nullopt);
    // Stops listening, lets go of the inhibitor and joins the thread; no handler runs after it returns.
    ~LogindPowerMonitor() override;
    LogindPowerMonitor(const LogindPowerMonitor&) = delete;
    LogindPowerMonitor& operator=(const LogindPowerMonitor&) = delete;

    // Subscribes before it returns. A second start does nothing.
    void start(std::function<void()> willSleep, std::function<void()> didWake) override;
    void setControlActive(bool active) override;
    bool isListening() const;

private:
    struct Listener;
    std::optional<std::string> busAddress_;
    std::shared_ptr<Listener> listener_;
};

} // namespace quorvane
