#pragma once

#include "App/AppCommandLine.hpp"
#include "App/AppModel.hpp"
#include "App/LaunchActions.hpp"

#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>

namespace quorvane {

// Quorvane without a window, for SSH sessions and scripts: one line (or one JSON object) per poll,
// the menu's actions as switches, and the same orderly hand-back on quit as the desktop app.
class HeadlessFrontEnd {
public:
    // finish receives the exit status once the model has handed the fans back.
    HeadlessFrontEnd(AppModel& model, AppCommandLine commandLine, std::ostream& output, std::ostream& errors,
                     std::function<void(int)> finish);
    ~HeadlessFrontEnd();
    HeadlessFrontEnd(const HeadlessFrontEnd&) = delete;
    HeadlessFrontEnd& operator=(const HeadlessFrontEnd&) = delete;

    // Applies the launch switches and starts reporting; the model must be started separately.
    void start();
    // Quit as the menu would: every fan back to the system first. Later requests change nothing.
    void requestTermination(int status);
    // Runs once, the moment quitting begins.
    void onQuitting(std::function<void()> quitting) { quitting_ = std::move(quitting); }

    // What one poll prints.
    std::string textLine() const;
    nlohmann::json jsonObject() const;

private:
    void changed(AppModel::Property property);
    void reportPoll();

    AppModel& model_;
    AppCommandLine commandLine_;
    std::ostream& output_;
    std::ostream& errors_;
    std::function<void(int)> finish_;
    std::function<void()> quitting_;
    LaunchActions launchActions_;
    AppModel::ObserverToken observer_{};
    int reportedPolls_ = 0;
    bool terminating_ = false;
};

} // namespace quorvane
