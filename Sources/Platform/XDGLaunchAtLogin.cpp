#include "Platform/XDGLaunchAtLogin.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Platform/AtomicTextFile.hpp"
#include "Platform/PlatformServiceError.hpp"

#include <fstream>
#include <system_error>

namespace quorvane {

namespace {

// Exec= quoting: inside double quotes, backslash-escape " ` $ \; then the value itself escapes
// backslashes once more, and a literal % is doubled.
std::string execValue(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\') {
            value += "\\\\";
        } else if (c == '%') {
            value += "%%";
        } else {
            value += c;
        }
    }
    return value;
}

// A desktop entry string: only the backslash needs escaping in a path.
std::string stringValue(const std::string& text) {
    std::string value;
    for (char c : text) {
        value += c;
        if (c == '\\') {
            value += '\\';
        }
    }
    return value;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The name autostart entries had before they were named after the app id.
constexpr const char* legacyEntryName = "quorvane.desktop";

} // namespace

XDGLaunchAtLogin::XDGLaunchAtLogin(std::filesystem::path entry, std::filesystem::path executable)
    : entry_(std::move(entry)), executable_(std::move(executable)) {}

std::filesystem::path XDGLaunchAtLogin::defaultEntry(const UserDirectories& directories) {
    return directories.configHome() / "autostart" / (AppBundleIdentifier + ".desktop");
}

std::filesystem::path XDGLaunchAtLogin::currentExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("Quorvane") : path;
}

std::string XDGLaunchAtLogin::desktopEntry(const std::filesystem::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorvane\n"
           "Comment=Fan control and thermal monitoring\n"
           "Exec=" +
           execValue(executable.string()) +
           "\n"
           "TryExec=" +
           stringValue(executable.string()) +
           "\n"
           "Icon=" +
           AppBundleIdentifier +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n"
           // After the panel, so the tray is there when the app looks for it.
           "X-KDE-autostart-phase=2\n";
}

bool XDGLaunchAtLogin::isEnabled() {
    migrateLegacyEntry();
    std::ifstream file(entry_);
    if (!file) {
        return false;
    }
    // Switched off by the desktop: Hidden=true (any desktop) or X-GNOME-Autostart-enabled=false,
    // read in the [Desktop Entry] group only.
    bool inMainGroup = false;
    for (std::string line; std::getline(file, line);) {
        line = trimmed(line);
        if (line.starts_with('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos) {
            continue;
        }
        const auto key = trimmed(line.substr(0, equals));
        const auto value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return true;
}

void XDGLaunchAtLogin::migrateLegacyEntry() {
    const auto legacy = entry_.parent_path() / legacyEntryName;
    std::error_code error;
    if (legacy == entry_ || !std::filesystem::exists(legacy, error) ||
        std::filesystem::exists(entry_, error)) {
        return;
    }
    // The old entry under the new name keeps the user's choice, switched off included; an entry
    // that is on is rewritten, so it gains the icon and the login phase.
    std::filesystem::rename(legacy, entry_, error);
    if (!error && isEnabled()) {
        try {
            AtomicTextFile::write(entry_, desktopEntry(executable_));
        } catch (const std::system_error&) {
            // The renamed entry still starts the app.
        }
    }
}

void XDGLaunchAtLogin::setEnabled(bool enabled) {
    migrateLegacyEntry();
    if (enabled) {
        try {
            AtomicTextFile::write(entry_, desktopEntry(executable_));
        } catch (const std::system_error& error) {
            throw PlatformServiceError("Cannot write the login item " + entry_.string() + ": " +
                                       error.code().message());
        }
        return;
    }
    std::error_code error;
    std::filesystem::remove(entry_, error);
    if (error) {
        throw PlatformServiceError("Cannot remove the login item " + entry_.string() + ": " +
                                   error.message());
    }
}

} // namespace quorvane
