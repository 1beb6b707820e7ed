#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quorvane {

// What the running app does for a second start or a script. Presets are named by their name or
// their identifier. Every operation throws AppInstanceError with the sentence to show when it fails.
class AppInstanceCommands {
public:
    virtual ~AppInstanceCommands() = default;

    virtual void activatePreset(const std::string& preset) = 0;
    // These three return the name of the preset they made.
    virtual std::string createPreset() = 0;
    virtual std::string duplicatePreset(const std::string& preset) = 0;
    virtual void renamePreset(const std::string& preset, const std::string& newName) = 0;
    virtual void deletePreset(const std::string& preset) = 0;
    // The number of presets imported, and exported. Paths are absolute.
    virtual std::size_t importPresets(const std::filesystem::path& file) = 0;
    virtual std::size_t exportPresets(const std::filesystem::path& file) = 0;
    // How an operation that takes its time ended: its result, or the sentence saying why it failed.
    struct Outcome {
        std::string result;
        std::optional<std::string> failure;
    };
    using Finished = std::function<void(const Outcome&)>;
    // Both answer once they have finished (the registration's answer; the test's end): the helper's
    // registration state as the settings show it, and nothing.
    virtual void installHelper(Finished finished) = 0;
    virtual void runSupervisedTest(Finished finished) = 0;
    // "quorvane" or "anotherApp".
    virtual void setOwnership(const std::string& owner) = 0;
    // "dashboard", "sensors", "settings" or "panel". `activationToken` (XDG_ACTIVATION_TOKEN or
    // DESKTOP_STARTUP_ID of the start that asks, or empty) lets the desktop bring the window forward.
    virtual void open(const std::string& window, const std::string& activationToken) = 0;
};

} // namespace quorvane
