#pragma once

#include "Platform/Updater.hpp"

namespace quorvane {

// No update feed is configured on this platform, so nothing can be checked; the app says so.
class NoFeedUpdater final : public Updater {
public:
    void start() override {}
    bool canCheckForUpdates() override { return false; }
    void checkForUpdates() override {}
};

} // namespace quorvane
