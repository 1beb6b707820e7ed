#include "App/AppCommandLine.hpp"

#include <charconv>

namespace quorvane {

const char* AppCommandLine::usage() {
    return "usage: Quorvane [--headless [--json] [--polls N]] [--preset NAME] [--run-supervised-test]\n"
           "                [--ownership quorvane|another-app] [--install-helper]\n"
           "                [--export-presets FILE] [--import-presets FILE] "
           "[--refresh-helper-registration]\n"
           "                [--open dashboard|sensors|settings|panel]... [--screenshots DIR]\n"
           "       Quorvane --help | --version\n";
}

AppCommandLine AppCommandLine::parse(const std::vector<std::string>& arguments) {
    AppCommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) {
                throw AppCommandLineError(argument + " needs a value");
            }
            return arguments[++i];
        };
        if (argument == "--headless") {
            line.headless = true;
        } else if (argument == "--json") {
            line.json = true;
        } else if (argument == "--polls") {
            const std::string& text = value();
            int count = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
            if (error != std::errc() || end != text.data() + text.size() || count < 1) {
                throw AppCommandLineError("--polls needs a whole number of at least 1, not \"" + text + "\"");
            }
            line.polls = count;
        } else if (argument == "--preset") {
            line.preset = value();
        } else if (argument == "--run-supervised-test") {
            line.runSupervisedTest = true;
        } else if (argument == "--ownership") {
            const std::string& text = value();
            if (text == "quorvane") {
                line.ownership = FanControlOwnership::quorvane;
            } else if (text == "another-app" || text == "anotherApp") {
                line.ownership = FanControlOwnership::anotherApp;
            } else {
                throw AppCommandLineError("--ownership takes quorvane or another-app, not \"" + text + "\"");
            }
        } else if (argument == "--install-helper") {
            line.installHelper = true;
        } else if (argument == "--export-presets") {
            line.exportPresets = value();
        } else if (argument == "--import-presets") {
            line.importPresets = value();
        } else if (argument == "--refresh-helper-registration") {
            line.refreshHelperRegistration = true;
        } else if (argument == "--open") {
            const std::string& window = value();
            if (window != "dashboard" && window != "sensors" && window != "settings" && window != "panel") {
                throw AppCommandLineError("--open takes dashboard, sensors, settings or panel, not \"" +
                                          window + "\"");
            }
            line.openWindows.push_back(window);
        } else if (argument == "--screenshots") {
            line.screenshotDirectory = value();
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else {
            throw AppCommandLineError("unknown argument \"" + argument + "\"");
        }
    }
    if (line.headless && (!line.openWindows.empty() || line.screenshotDirectory)) {
        throw AppCommandLineError("--open and --screenshots need the desktop app, not --headless");
    }
    return line;
}

} // namespace quorvane
