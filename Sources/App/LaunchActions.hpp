#pragma once

#include "App/AppCommandLine.hpp"
#include "App/AppModel.hpp"

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace quorvane {

// The launch switches that act on the model, as the menu would: the owner and the helper
// installation at once, the supervised test after the first good poll, and the requested preset
// once telemetry is live, nothing else runs and a requested test has passed. Shared by both front ends.
class LaunchActions {
public:
    // `failed` receives the sentence when no preset has the requested name.
    LaunchActions(AppModel& model, AppCommandLine commandLine,
                  std::function<void(const std::string&)> failed);
    ~LaunchActions();
    LaunchActions(const LaunchActions&) = delete;
    LaunchActions& operator=(const LaunchActions&) = delete;

    void start();
    // The one-shot preset file jobs (import, then export), reported on `output` or `errors`: the exit
    // status to quit with, or absent when none was asked for.
    std::optional<int> runPresetFileJobs(std::ostream& output, std::ostream& errors);
    // Stops acting, e.g. once the app quits.
    void cancel();

private:
    void changed(AppModel::Property property);
    void becomeReady();
    void activateRequestedPreset();
    void runRequestedTest();

    AppModel& model_;
    AppCommandLine commandLine_;
    std::function<void(const std::string&)> failed_;
    AppModel::ObserverToken observer_{};
    bool ready_ = false;
    bool presetPending_ = false;
    bool testStarted_ = false;
};

} // namespace quorvane
