#pragma once

#include <functional>

namespace quorvane {

// What views can ask of the desktop app beyond the model: windows, the system's Login Items
// settings, the updater and quitting. Unset entries do nothing.
struct DesktopActions {
    std::function<void()> openDashboard = {};
    std::function<void()> openSensors = {};
    std::function<void()> openSettings = {};
    std::function<void()> openLoginItems = {};
    std::function<void()> checkForUpdates = {};
    std::function<void()> quit = {};

    static void run(const std::function<void()>& action) {
        if (action) {
            action();
        }
    }
};

} // namespace quorvane
