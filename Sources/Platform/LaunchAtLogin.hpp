#pragma once

namespace quorvane {

// Whether the app starts with the user's session.
class LaunchAtLogin {
public:
    virtual ~LaunchAtLogin() = default;
    virtual bool isEnabled() = 0;
    // Throws an exception whose what() is the system's message.
    virtual void setEnabled(bool enabled) = 0;
};

} // namespace quorvane
