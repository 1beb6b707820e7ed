#include "App/LaunchActions.hpp"

namespace quorvane {

LaunchActions::LaunchActions(AppModel& model, AppCommandLine commandLine,
                             std::function<void(const std::string&)> failed)
    : model_(model), commandLine_(std::move(commandLine)), failed_(std::move(failed)) {}

LaunchActions::~LaunchActions() {
    model_.removeObserver(observer_);
}

void LaunchActions::start() {
    observer_ = model_.addObserver([this](AppModel::Property property) { changed(property); });
    if (commandLine_.ownership) {
        model_.setFanControlOwnership(*commandLine_.ownership);
    }
    if (commandLine_.installHelper) {
        model_.installHelper();
    }
    presetPending_ = commandLine_.preset.has_value();
}

std::optional<int> LaunchActions::runPresetFileJobs(std::ostream& output, std::ostream& errors) {
    if (!commandLine_.importPresets && !commandLine_.exportPresets) {
        return std::nullopt;
    }
    bool succeeded = true;
    if (commandLine_.importPresets) {
        succeeded = model_.importCustomPresets(*commandLine_.importPresets);
    }
    if (commandLine_.exportPresets && succeeded) {
        succeeded = model_.exportCustomPresets(*commandLine_.exportPresets);
    }
    if (!succeeded) {
        errors << "Quorvane: " << model_.lastError().value_or("the preset file could not be processed")
               << "\n";
        return 1;
    }
    output << "Presets: " << model_.customPresets().size() << " in the library\n";
    return 0;
}

void LaunchActions::cancel() {
    presetPending_ = false;
    commandLine_.runSupervisedTest = false;
}

void LaunchActions::changed(AppModel::Property property) {
    switch (property) {
    case AppModel::Property::lastTemperatureSampleDate:
        if (model_.lastTemperatureSampleDate()) {
            becomeReady();
        }
        break;
    case AppModel::Property::helperState:
        runRequestedTest();
        break;
    case AppModel::Property::supervisedTestPassed:
    case AppModel::Property::isBusy:
        activateRequestedPreset();
        break;
    default:
        break;
    }
}

// The first good poll: telemetry is live, so the menu's actions make sense now.
void LaunchActions::becomeReady() {
    if (ready_) {
        return;
    }
    ready_ = true;
    if (commandLine_.runSupervisedTest && !model_.supervisedTestPassed()) {
        runRequestedTest();
        return;
    }
    activateRequestedPreset();
}

// Once the helper is approved: the first poll may come before the registration answers.
void LaunchActions::runRequestedTest() {
    if (!ready_ || testStarted_ || !commandLine_.runSupervisedTest || model_.supervisedTestPassed() ||
        model_.helperState() != HelperInstallState::enabled) {
        return;
    }
    testStarted_ = true;
    model_.runSupervisedFan0Test();
}

void LaunchActions::activateRequestedPreset() {
    if (!presetPending_ || !ready_ || model_.isBusy() ||
        (commandLine_.runSupervisedTest && !model_.supervisedTestPassed())) {
        return;
    }
    presetPending_ = false;
    for (const auto& preset : model_.presetMenu()) {
        if (preset.name == *commandLine_.preset) {
            model_.activate(preset);
            return;
        }
    }
    std::string names;
    for (const auto& preset : model_.presetMenu()) {
        names += (names.empty() ? "" : ", ") + ("\"" + preset.name + "\"");
    }
    failed_("no preset is named \"" + *commandLine_.preset + "\"; the presets are " + names);
}

} // namespace quorvane
