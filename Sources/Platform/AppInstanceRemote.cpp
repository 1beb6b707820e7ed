#include "Platform/AppInstanceRemote.hpp"

#include "Platform/AppInstanceError.hpp"
#include "Platform/AppInstanceService.hpp"

#include <cstring>
#include <memory>
#include <systemd/sd-bus.h>

namespace quorvane {

namespace {

struct MessageRelease {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Reply = std::unique_ptr<sd_bus_message, MessageRelease>;

// An approval prompt or the supervised test may take minutes before the running app answers.
constexpr std::uint64_t longCallMicroseconds = 10ULL * 60 * 1000 * 1000;

std::string failureText(const sd_bus_error& error, int result) {
    return error.message != nullptr ? error.message : std::strerror(-result);
}

// Calls one method of the running app and hands back its reply; its error becomes AppInstanceError.
template <typename... Arguments>
Reply call(SessionBus& bus, const char* member, const char* types, Arguments... arguments) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(
        bus.get(), AppInstanceService::busName.c_str(), AppInstanceService::objectPath.c_str(),
        AppInstanceService::interfaceName.c_str(), member, &error, &reply, types, arguments...);
    if (result < 0) {
        const std::string text = failureText(error, result);
        sd_bus_error_free(&error);
        throw AppInstanceError(text);
    }
    return Reply(reply);
}

// A call without arguments that the running app answers once it has finished; its refusal is the
// outcome's failure, an unreachable app still AppInstanceError.
AppInstanceCommands::Outcome longCall(SessionBus& bus, const char* member, const char* replyType) {
    sd_bus_message* request = nullptr;
    int result = sd_bus_message_new_method_call(bus.get(), &request, AppInstanceService::busName.c_str(),
                                                AppInstanceService::objectPath.c_str(),
                                                AppInstanceService::interfaceName.c_str(), member);
    if (result < 0) {
        throw AppInstanceError(std::strerror(-result));
    }
    Reply call(request);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* answer = nullptr;
    result = sd_bus_call(bus.get(), call.get(), longCallMicroseconds, &error, &answer);
    Reply reply(answer);
    if (result < 0) {
        const std::string text = failureText(error, result);
        const bool refused = sd_bus_error_has_name(&error, AppInstanceService::errorName.c_str());
        sd_bus_error_free(&error);
        if (!refused) {
            throw AppInstanceError(text);
        }
        return {{}, text};
    }
    const char* value = nullptr;
    if (*replyType != '\0' && (sd_bus_message_read(reply.get(), replyType, &value) < 0 || value == nullptr)) {
        throw AppInstanceError("The running Quorvane gave an answer that could not be read.");
    }
    return {value != nullptr ? value : "", std::nullopt};
}

std::string text(const Reply& reply) {
    const char* value = nullptr;
    if (sd_bus_message_read(reply.get(), "s", &value) < 0 || value == nullptr) {
        throw AppInstanceError("The running Quorvane gave an answer that could not be read.");
    }
    return value;
}

std::size_t count(const Reply& reply) {
    std::uint32_t value = 0;
    if (sd_bus_message_read(reply.get(), "u", &value) < 0) {
        throw AppInstanceError("The running Quorvane gave an answer that could not be read.");
    }
    return value;
}

} // namespace

void AppInstanceRemote::activatePreset(const std::string& preset) {
    call(bus_, "ActivatePreset", "s", preset.c_str());
}

std::string AppInstanceRemote::createPreset() {
    return text(call(bus_, "CreatePreset", ""));
}

std::string AppInstanceRemote::duplicatePreset(const std::string& preset) {
    return text(call(bus_, "DuplicatePreset", "s", preset.c_str()));
}

void AppInstanceRemote::renamePreset(const std::string& preset, const std::string& newName) {
    call(bus_, "RenamePreset", "ss", preset.c_str(), newName.c_str());
}

void AppInstanceRemote::deletePreset(const std::string& preset) {
    call(bus_, "DeletePreset", "s", preset.c_str());
}

std::size_t AppInstanceRemote::importPresets(const std::filesystem::path& file) {
    return count(call(bus_, "ImportPresets", "s", file.c_str()));
}

std::size_t AppInstanceRemote::exportPresets(const std::filesystem::path& file) {
    return count(call(bus_, "ExportPresets", "s", file.c_str()));
}

void AppInstanceRemote::installHelper(Finished finished) {
    finished(longCall(bus_, "InstallHelper", "s"));
}

void AppInstanceRemote::runSupervisedTest(Finished finished) {
    finished(longCall(bus_, "RunSupervisedTest", ""));
}

void AppInstanceRemote::setOwnership(const std::string& owner) {
    call(bus_, "SetOwnership", "s", owner.c_str());
}

void AppInstanceRemote::open(const std::string& window, const std::string& activationToken) {
    call(bus_, "Open", "ss", window.c_str(), activationToken.c_str());
}

} // namespace quorvane
