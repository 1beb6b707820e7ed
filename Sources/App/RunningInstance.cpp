#include "App/RunningInstance.hpp"

#include "App/MenuBarTitle.hpp"
#include "Platform/AppInstanceError.hpp"

namespace quorvane {

RunningInstance::RunningInstance(AppModel& model, MainExecutor& mainExecutor, OpenWindow openWindow,
                                 std::function<void(const AppInstanceState&)> publish)
    : model_(model), mainExecutor_(mainExecutor), openWindow_(std::move(openWindow)),
      publish_(std::move(publish)) {
    observer_ = model_.addObserver([this](AppModel::Property) { schedulePublish(); });
    schedulePublish();
}

RunningInstance::~RunningInstance() {
    model_.removeObserver(observer_);
}

void RunningInstance::schedulePublish() {
    if (publishPending_) {
        return;
    }
    publishPending_ = true;
    mainExecutor_.post([this, alive = std::weak_ptr<char>(lifetime_)] {
        if (alive.lock()) {
            publishPending_ = false;
            publish_(state());
        }
    });
}

AppInstanceState RunningInstance::state() const {
    AppInstanceState state{
        .title = menuBarTitle(model_.fans(), model_.fanControlTemperatures(), model_.displayTemperature()),
        .displayTemperature = model_.displayTemperature(),
        .controlTemperature = model_.controlTemperature(),
        .zoneTemperatures = model_.fanControlTemperatures(),
        .electricalReadings = model_.electricalReadings(),
        .fans = model_.fans(),
        .activePreset = model_.activePreset().name,
        .presets = {},
        .helperState = rawValue(model_.helperState()),
        .supervisedTestPassed = model_.supervisedTestPassed(),
        .owner = std::string(rawValue(model_.fanControlOwnership())),
        .error = model_.visibleError().value_or(model_.activeConflictMessage().value_or("")),
        .criticalOverride = model_.criticalThermalOverrideActive(),
    };
    for (const auto& preset : model_.presetMenu()) {
        state.presets.push_back(preset.name);
    }
    return state;
}

FanPreset RunningInstance::find(const std::string& preset) const {
    const auto menu = model_.presetMenu();
    const auto id = UUID::parse(preset);
    for (const auto& candidate : menu) {
        if (candidate.name == preset || (id && candidate.id == *id)) {
            return candidate;
        }
    }
    std::string names;
    for (const auto& candidate : menu) {
        names += (names.empty() ? "" : ", ") + ("\"" + candidate.name + "\"");
    }
    throw AppInstanceError("no preset is named \"" + preset + "\"; the presets are " + names);
}

void RunningInstance::activatePreset(const std::string& preset) {
    if (auto refusal = model_.activate(find(preset))) {
        throw AppInstanceError(*refusal);
    }
}

std::string RunningInstance::createPreset() {
    model_.createCustomPreset();
    return model_.customPresets().back().name;
}

std::string RunningInstance::duplicatePreset(const std::string& preset) {
    const auto original = find(preset);
    if (original.kind != PresetKind::custom) {
        throw AppInstanceError("Only custom presets can be duplicated; \"" + original.name +
                               "\" is built in.");
    }
    model_.duplicatePreset(original);
    return model_.customPresets().back().name;
}

void RunningInstance::renamePreset(const std::string& preset, const std::string& newName) {
    const auto original = find(preset);
    if (original.isLocked()) {
        throw AppInstanceError("The preset \"" + original.name + "\" cannot be renamed.");
    }
    const auto error = model_.lastError();
    model_.renamePreset(original, newName);
    if (model_.lastError() != error && model_.lastError()) {
        throw AppInstanceError(*model_.lastError());
    }
}

void RunningInstance::deletePreset(const std::string& preset) {
    const auto original = find(preset);
    if (original.isLocked()) {
        throw AppInstanceError("The preset \"" + original.name + "\" cannot be deleted.");
    }
    model_.deletePreset(original);
}

std::size_t RunningInstance::importPresets(const std::filesystem::path& file) {
    const auto before = model_.customPresets().size();
    if (!model_.importCustomPresets(file)) {
        throw AppInstanceError(model_.lastError().value_or("The preset file could not be imported."));
    }
    return model_.customPresets().size() - before;
}

std::size_t RunningInstance::exportPresets(const std::filesystem::path& file) {
    if (!model_.exportCustomPresets(file)) {
        throw AppInstanceError(model_.lastError().value_or("The presets could not be exported."));
    }
    return model_.customPresets().size();
}

void RunningInstance::installHelper(Finished finished) {
    model_.installHelper([this, finished = std::move(finished)](std::optional<std::string> failure) {
        finished({std::string(rawValue(model_.helperState())), std::move(failure)});
    });
}

void RunningInstance::runSupervisedTest(Finished finished) {
    if (model_.supervisedTestPassed()) {
        finished({});
        return;
    }
    model_.runSupervisedFan0Test([finished = std::move(finished)](std::optional<std::string> failure) {
        finished({{}, failure});
    });
}

void RunningInstance::setOwnership(const std::string& owner) {
    // The command line's spelling is accepted too.
    const auto ownership = fanControlOwnershipFromRaw(owner == "another-app" ? "anotherApp" : owner);
    if (!ownership) {
        throw AppInstanceError("The fan-control owner is \"quorvane\" or \"anotherApp\", not \"" + owner +
                               "\".");
    }
    model_.setFanControlOwnership(*ownership);
}

void RunningInstance::open(const std::string& window, const std::string& activationToken) {
    if (!openWindow_) {
        throw AppInstanceError("The running Quorvane is headless and has no windows.");
    }
    if (window != "dashboard" && window != "sensors" && window != "settings" && window != "panel") {
        throw AppInstanceError("There is no window \"" + window +
                               "\"; the windows are dashboard, sensors, settings and panel.");
    }
    openWindow_(window, activationToken);
}

} // namespace quorvane
