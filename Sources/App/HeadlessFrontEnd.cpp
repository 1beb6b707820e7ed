#include "App/HeadlessFrontEnd.hpp"

#include "App/MenuBarTitle.hpp"

#include <cmath>
#include <sstream>

namespace quorvane {

namespace {

nlohmann::json optionalNumber(std::optional<double> value) {
    return value && std::isfinite(*value) ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json optionalText(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::string oneDecimal(double value) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << value;
    return text.str();
}

} // namespace

HeadlessFrontEnd::HeadlessFrontEnd(AppModel& model, AppCommandLine commandLine, std::ostream& output,
                                   std::ostream& errors, std::function<void(int)> finish)
    : model_(model), commandLine_(std::move(commandLine)), output_(output), errors_(errors),
      finish_(std::move(finish)), launchActions_(model, commandLine_, [this](const std::string& failure) {
          errors_ << "Quorvane: " << failure << "\n";
          requestTermination(2);
      }) {}

HeadlessFrontEnd::~HeadlessFrontEnd() {
    model_.removeObserver(observer_);
}

void HeadlessFrontEnd::start() {
    // The launch actions see each poll first, as the menu would act before the line is printed.
    launchActions_.start();
    observer_ = model_.addObserver([this](AppModel::Property property) { changed(property); });
    // Export and import are one-shot jobs: do them, report, and quit.
    if (auto status = launchActions_.runPresetFileJobs(output_, errors_)) {
        requestTermination(*status);
    }
}

void HeadlessFrontEnd::changed(AppModel::Property property) {
    if (terminating_) {
        return;
    }
    switch (property) {
    case AppModel::Property::lastTemperatureSampleDate:
        if (model_.lastTemperatureSampleDate()) {
            reportPoll();
        }
        break;
    case AppModel::Property::lastError:
        if (auto error = model_.visibleError()) {
            errors_ << "Quorvane: " << *error << "\n";
        }
        break;
    case AppModel::Property::supervisedTestPassed:
        if (model_.supervisedTestPassed()) {
            output_ << "Supervised fan test passed\n";
        }
        break;
    default:
        break;
    }
}

void HeadlessFrontEnd::reportPoll() {
    if (commandLine_.json) {
        output_ << jsonObject().dump() << std::endl;
    } else {
        output_ << textLine() << std::endl;
    }
    ++reportedPolls_;
    if (commandLine_.polls && reportedPolls_ >= *commandLine_.polls) {
        requestTermination(0);
    }
}

void HeadlessFrontEnd::requestTermination(int status) {
    if (terminating_) {
        return;
    }
    terminating_ = true;
    if (quitting_) {
        quitting_();
    }
    launchActions_.cancel();
    model_.prepareForTermination([finish = finish_, status] { finish(status); });
}

std::string HeadlessFrontEnd::textLine() const {
    std::string line =
        menuBarTitle(model_.fans(), model_.fanControlTemperatures(), model_.displayTemperature());
    if (auto control = model_.controlTemperature()) {
        line += "  control " + oneDecimal(*control) + " °C";
    }
    line += "  preset \"" + model_.activePreset().name + "\"  helper " + rawValue(model_.helperState());
    if (model_.criticalThermalOverrideActive()) {
        line += "  CRITICAL OVERRIDE";
    }
    if (auto conflict = model_.activeConflictMessage()) {
        line += "  conflict: " + *conflict;
    }
    return line;
}

nlohmann::json HeadlessFrontEnd::jsonObject() const {
    nlohmann::json fans = nlohmann::json::array();
    for (const auto& fan : model_.fans()) {
        const auto zone = model_.fanControlTemperatures().find(fan.index);
        const auto driver = model_.fanControlDrivers().find(fan.index);
        fans.push_back(
            {{"index", fan.index},
             {"actualRPM", fan.actualRPM},
             {"minimumRPM", fan.minRPM},
             {"maximumRPM", fan.maxRPM},
             {"mode", fan.mode == FanMode::manual ? "manual" : "automatic"},
             {"targetRPM", fan.targetRPM ? nlohmann::json(*fan.targetRPM) : nlohmann::json(nullptr)},
             {"zoneTemperature", zone != model_.fanControlTemperatures().end() ? optionalNumber(zone->second)
                                                                               : nlohmann::json(nullptr)},
             {"driver", driver != model_.fanControlDrivers().end() ? nlohmann::json(driver->second)
                                                                   : nlohmann::json(nullptr)}});
    }
    nlohmann::json sensors = nlohmann::json::array();
    for (const auto& reading : model_.sensorReadings()) {
        sensors.push_back({{"key", reading.keyName}, {"temperature", reading.value}});
    }
    nlohmann::json electrical = nlohmann::json::array();
    for (const auto& reading : model_.electricalReadings()) {
        electrical.push_back({{"key", reading.keyName},
                              {"label", reading.displayName},
                              {"value", reading.value},
                              {"unit", reading.unit}});
    }
    return {
        {"title", menuBarTitle(model_.fans(), model_.fanControlTemperatures(), model_.displayTemperature())},
        {"displayTemperature", optionalNumber(model_.displayTemperature())},
        {"controlTemperature", optionalNumber(model_.controlTemperature())},
        {"fans", std::move(fans)},
        {"sensors", std::move(sensors)},
        {"electrical", std::move(electrical)},
        {"activePreset", model_.activePreset().name},
        {"helperState", rawValue(model_.helperState())},
        {"supervisedTestPassed", model_.supervisedTestPassed()},
        {"busy", model_.isBusy()},
        {"error", optionalText(model_.visibleError())},
        {"conflict", optionalText(model_.activeConflictMessage())},
        {"criticalOverride", model_.criticalThermalOverrideActive()},
        {"thermalControlSupported", model_.thermalControlSupported()},
        {"controlUnavailable", optionalText(model_.controlUnavailableReason())},
        {"smc", model_.smcMachine()},
        {"owner", std::string(rawValue(model_.fanControlOwnership()))}};
}

} // namespace quorvane
