#pragma once

namespace quorvane {

// Software updates. Without a configured feed nothing can be checked.
class Updater {
public:
    virtual ~Updater() = default;
    virtual void start() = 0;
    virtual bool canCheckForUpdates() = 0;
    virtual void checkForUpdates() = 0;
};

} // namespace quorvane
