#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quorvane {

// User notifications. Answers may arrive on any thread; callers hop to their own.
class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    // granted, or an error text when asking failed. No notification service counts as not granted.
    virtual void
    requestAuthorization(std::function<void(bool granted, std::optional<std::string> error)> answer) = 0;
    // Shows a notification at once; the completion receives an error text on failure.
    virtual void deliver(const std::string& identifier, const std::string& title, const std::string& body,
                         std::function<void(std::optional<std::string> error)> completion) = 0;
};

} // namespace quorvane
