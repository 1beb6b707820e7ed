#pragma once

#include <cstddef>
#include <filesystem>
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
    // The helper's registration state afterwards, as the settings show it.
    virtual std::string installHelper() = 0;
    virtual void runSupervisedTest() = 0;
    // "quorvane" or "anotherApp".
    virtual void setOwnership(const std::string& owner) = 0;
    // "dashboard", "sensors", "settings" or "panel".
    virtual void open(const std::string& window) = 0;
};

} // namespace quorvane
