#pragma once

#include "Platform/NotificationCenter.hpp"

#include <iostream>
#include <mutex>

namespace quorvane {

// The headless app's notifications: always allowed, each one a line on standard output,
// "Notification: <title>: <body>".
class ConsoleNotificationCenter final : public NotificationCenter {
public:
    explicit ConsoleNotificationCenter(std::ostream& output = std::cout) : output_(output) {}

    void
    requestAuthorization(std::function<void(bool granted, std::optional<std::string> error)> answer) override;
    void deliver(const std::string& identifier, const std::string& title, const std::string& body,
                 std::function<void(std::optional<std::string> error)> completion) override;

private:
    std::mutex mutex_;
    std::ostream& output_;
};

} // namespace quorvane
