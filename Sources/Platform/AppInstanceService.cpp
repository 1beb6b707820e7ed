#include "Platform/AppInstanceService.hpp"

#include "Platform/AppInstanceError.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <poll.h>
#include <string_view>
#include <systemd/sd-bus.h>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

constexpr std::uint64_t emitsChange = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

double orNaN(std::optional<double> value) {
    return value.value_or(std::numeric_limits<double>::quiet_NaN());
}

std::filesystem::path absoluteFile(const std::string& text) {
    const std::filesystem::path file(text);
    if (!file.is_absolute()) {
        throw AppInstanceError("The file must be given as an absolute path, not \"" + text + "\".");
    }
    return file;
}

} // namespace

void AppInstanceService::SlotRelease::operator()(sd_bus_slot* slot) const {
    sd_bus_slot_unref(slot);
}

static const sd_bus_vtable instanceVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Title", "s", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("DisplayTemperature", "d", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("ControlTemperature", "d", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("ZoneTemperatures", "a{id}", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("ElectricalReadings", "a(ssds)", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("Fans", "a(ixxxsx)", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("ActivePreset", "s", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("Presets", "as", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("HelperState", "s", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("SupervisedTestPassed", "b", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("Owner", "s", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("Error", "s", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_PROPERTY("CriticalOverride", "b", &AppInstanceService::property, 0, emitsChange),
    SD_BUS_METHOD_WITH_NAMES("ActivatePreset", "s", SD_BUS_PARAM(preset), "", "", &AppInstanceService::method,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("CreatePreset", "", "", "s", SD_BUS_PARAM(name), &AppInstanceService::method,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("DuplicatePreset", "s", SD_BUS_PARAM(preset), "s", SD_BUS_PARAM(name),
                             &AppInstanceService::method, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("RenamePreset", "ss", SD_BUS_PARAM(preset) SD_BUS_PARAM(name), "", "",
                             &AppInstanceService::method, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("DeletePreset", "s", SD_BUS_PARAM(preset), "", "", &AppInstanceService::method,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("ImportPresets", "s", SD_BUS_PARAM(file), "u", SD_BUS_PARAM(imported),
                             &AppInstanceService::method, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("ExportPresets", "s", SD_BUS_PARAM(file), "u", SD_BUS_PARAM(exported),
                             &AppInstanceService::method, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("InstallHelper", "", "", "s", SD_BUS_PARAM(helperState),
                             &AppInstanceService::method, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("RunSupervisedTest", "", "", "", "", &AppInstanceService::method,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetOwnership", "s", SD_BUS_PARAM(owner), "", "", &AppInstanceService::method,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Open", "ss", SD_BUS_PARAM(window) SD_BUS_PARAM(activationToken), "", "",
                             &AppInstanceService::method, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

std::unique_ptr<AppInstanceService> AppInstanceService::claim(SessionBus& bus) {
    std::unique_ptr<AppInstanceService> service(new AppInstanceService(bus));
    sd_bus_slot* slot = nullptr;
    // The object first, so a call that arrives the moment the name is ours finds it.
    int result = sd_bus_add_object_vtable(bus.get(), &slot, objectPath.c_str(), interfaceName.c_str(),
                                          instanceVTable, service.get());
    if (result < 0) {
        throw AppInstanceError("Quorvane could not offer its service on the session bus (" +
                               std::string(std::strerror(-result)) + ").");
    }
    service->slot_.reset(slot);
    result = sd_bus_request_name(bus.get(), busName.c_str(), 0);
    if (result == -EEXIST) {
        return nullptr;
    }
    if (result < 0) {
        throw AppInstanceError("Quorvane could not take the name " + busName + " on the session bus (" +
                               std::string(std::strerror(-result)) + ").");
    }
    return service;
}

AppInstanceService::~AppInstanceService() {
    slot_.reset();
    release();
}

void AppInstanceService::release() {
    if (std::exchange(released_, true)) {
        return;
    }
    sd_bus_release_name(bus_.get(), busName.c_str());
    sd_bus_flush(bus_.get());
}

int AppInstanceService::descriptor() const {
    return sd_bus_get_fd(bus_.get());
}

bool AppInstanceService::process() {
    for (;;) {
        const int result = sd_bus_process(bus_.get(), nullptr);
        if (result < 0) {
            return false;
        }
        if (result == 0) {
            break;
        }
    }
    if (sd_bus_is_open(bus_.get()) <= 0) {
        return false;
    }
    // Replies wait in the queue only when the socket was full; the daemon drains it at once.
    if (sd_bus_get_events(bus_.get()) & POLLOUT) {
        sd_bus_flush(bus_.get());
    }
    return true;
}

void AppInstanceService::publish(const AppInstanceState& state) {
    std::vector<const char*> changed;
    const auto compare = [&](const char* name, bool differs) {
        if (differs) {
            changed.push_back(name);
        }
    };
    compare("Title", state.title != state_.title);
    compare("DisplayTemperature", state.displayTemperature != state_.displayTemperature);
    compare("ControlTemperature", state.controlTemperature != state_.controlTemperature);
    compare("ZoneTemperatures", state.zoneTemperatures != state_.zoneTemperatures);
    compare("ElectricalReadings", state.electricalReadings != state_.electricalReadings);
    compare("Fans", state.fans != state_.fans);
    compare("ActivePreset", state.activePreset != state_.activePreset);
    compare("Presets", state.presets != state_.presets);
    compare("HelperState", state.helperState != state_.helperState);
    compare("SupervisedTestPassed", state.supervisedTestPassed != state_.supervisedTestPassed);
    compare("Owner", state.owner != state_.owner);
    compare("Error", state.error != state_.error);
    compare("CriticalOverride", state.criticalOverride != state_.criticalOverride);
    state_ = state;
    if (changed.empty()) {
        return;
    }
    changed.push_back(nullptr);
    sd_bus_emit_properties_changed_strv(bus_.get(), objectPath.c_str(), interfaceName.c_str(),
                                        const_cast<char**>(changed.data()));
    if (sd_bus_get_events(bus_.get()) & POLLOUT) {
        sd_bus_flush(bus_.get());
    }
}

int AppInstanceService::property(sd_bus*, const char*, const char*, const char* name, sd_bus_message* reply,
                                 void* userdata, sd_bus_error*) {
    const AppInstanceState& state = static_cast<AppInstanceService*>(userdata)->state_;
    const std::string_view property(name);
    const auto text = [&](const std::string& value) {
        return sd_bus_message_append(reply, "s", value.c_str());
    };
    const auto flag = [&](bool value) {
        return sd_bus_message_append(reply, "b", static_cast<int>(value));
    };
    if (property == "Title") {
        return text(state.title);
    }
    if (property == "DisplayTemperature") {
        return sd_bus_message_append(reply, "d", orNaN(state.displayTemperature));
    }
    if (property == "ControlTemperature") {
        return sd_bus_message_append(reply, "d", orNaN(state.controlTemperature));
    }
    if (property == "ZoneTemperatures") {
        int result = sd_bus_message_open_container(reply, 'a', "{id}");
        for (auto [fan, temperature] : state.zoneTemperatures) {
            if (result >= 0) {
                result = sd_bus_message_append(reply, "{id}", fan, temperature);
            }
        }
        return result < 0 ? result : sd_bus_message_close_container(reply);
    }
    if (property == "ElectricalReadings") {
        int result = sd_bus_message_open_container(reply, 'a', "(ssds)");
        for (const auto& reading : state.electricalReadings) {
            if (result >= 0) {
                result =
                    sd_bus_message_append(reply, "(ssds)", reading.keyName.c_str(),
                                          reading.displayName.c_str(), reading.value, reading.unit.c_str());
            }
        }
        return result < 0 ? result : sd_bus_message_close_container(reply);
    }
    if (property == "Fans") {
        int result = sd_bus_message_open_container(reply, 'a', "(ixxxsx)");
        for (const auto& fan : state.fans) {
            if (result >= 0) {
                result = sd_bus_message_append(
                    reply, "(ixxxsx)", fan.index, static_cast<std::int64_t>(fan.actualRPM),
                    static_cast<std::int64_t>(fan.minRPM), static_cast<std::int64_t>(fan.maxRPM),
                    fan.mode == FanMode::manual ? "manual" : "automatic",
                    static_cast<std::int64_t>(fan.targetRPM.value_or(-1)));
            }
        }
        return result < 0 ? result : sd_bus_message_close_container(reply);
    }
    if (property == "ActivePreset") {
        return text(state.activePreset);
    }
    if (property == "Presets") {
        int result = sd_bus_message_open_container(reply, 'a', "s");
        for (const auto& preset : state.presets) {
            if (result >= 0) {
                result = text(preset);
            }
        }
        return result < 0 ? result : sd_bus_message_close_container(reply);
    }
    if (property == "HelperState") {
        return text(state.helperState);
    }
    if (property == "SupervisedTestPassed") {
        return flag(state.supervisedTestPassed);
    }
    if (property == "Owner") {
        return text(state.owner);
    }
    if (property == "Error") {
        return text(state.error);
    }
    return flag(state.criticalOverride);
}

int AppInstanceService::method(sd_bus_message* message, void* userdata, sd_bus_error* error) {
    try {
        return static_cast<AppInstanceService*>(userdata)->answer(message);
    } catch (const std::exception& failure) {
        return sd_bus_error_set(error, errorName.c_str(), failure.what());
    }
}

int AppInstanceService::answer(sd_bus_message* message) {
    if (commands_ == nullptr) {
        throw AppInstanceError("Quorvane is still starting.");
    }
    const std::string_view member(sd_bus_message_get_member(message));
    const char* first = nullptr;
    const char* second = nullptr;
    int result = 0;
    if (member == "RenamePreset" || member == "Open") {
        result = sd_bus_message_read(message, "ss", &first, &second);
    } else if (std::string_view(sd_bus_message_get_signature(message, 1)) == "s") {
        result = sd_bus_message_read(message, "s", &first);
    }
    if (result < 0) {
        return result;
    }
    const auto done = [&] {
        return sd_bus_reply_method_return(message, "");
    };
    const auto name = [&](const std::string& text) {
        return sd_bus_reply_method_return(message, "s", text.c_str());
    };
    const auto count = [&](std::size_t value) {
        return sd_bus_reply_method_return(message, "u", static_cast<std::uint32_t>(value));
    };
    if (member == "ActivatePreset") {
        commands_->activatePreset(first);
        return done();
    }
    if (member == "CreatePreset") {
        return name(commands_->createPreset());
    }
    if (member == "DuplicatePreset") {
        return name(commands_->duplicatePreset(first));
    }
    if (member == "RenamePreset") {
        commands_->renamePreset(first, second);
        return done();
    }
    if (member == "DeletePreset") {
        commands_->deletePreset(first);
        return done();
    }
    if (member == "ImportPresets") {
        return count(commands_->importPresets(absoluteFile(first)));
    }
    if (member == "ExportPresets") {
        return count(commands_->exportPresets(absoluteFile(first)));
    }
    if (member == "InstallHelper" || member == "RunSupervisedTest") {
        // Answered when the app has finished: the message is kept until then.
        std::shared_ptr<sd_bus_message> pending(sd_bus_message_ref(message), sd_bus_message_unref);
        const bool withState = member == "InstallHelper";
        auto finished = [pending, withState](const AppInstanceCommands::Outcome& outcome) {
            if (outcome.failure) {
                sd_bus_reply_method_errorf(pending.get(), errorName.c_str(), "%s", outcome.failure->c_str());
            } else if (withState) {
                sd_bus_reply_method_return(pending.get(), "s", outcome.result.c_str());
            } else {
                sd_bus_reply_method_return(pending.get(), "");
            }
        };
        if (withState) {
            commands_->installHelper(std::move(finished));
        } else {
            commands_->runSupervisedTest(std::move(finished));
        }
        return 1;
    }
    if (member == "SetOwnership") {
        commands_->setOwnership(first);
        return done();
    }
    commands_->open(first, second);
    return done();
}

} // namespace quorvane
