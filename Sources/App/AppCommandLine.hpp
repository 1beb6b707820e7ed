#pragma once

#include "Helpers/FanControlOwnership.hpp"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane {

class AppCommandLineError : public std::runtime_error {
public:
    explicit AppCommandLineError(const std::string& message) : std::runtime_error(message) {}
};

// The app's switches. The GUI and the headless front end take the same ones.
struct AppCommandLine {
    bool headless = false;
    bool json = false;
    std::optional<int> polls;
    std::optional<std::string> preset;
    bool runSupervisedTest = false;
    std::optional<FanControlOwnership> ownership;
    bool installHelper = false;
    std::optional<std::filesystem::path> exportPresets;
    std::optional<std::filesystem::path> importPresets;
    bool refreshHelperRegistration = false;
    // Desktop only: windows to open at launch, and where to save a picture of every window.
    std::vector<std::string> openWindows;
    std::optional<std::filesystem::path> screenshotDirectory;
    bool help = false;
    bool version = false;

    // Throws AppCommandLineError naming the offending argument.
    static AppCommandLine parse(const std::vector<std::string>& arguments);
    static const char* usage();
};

} // namespace quorvane
