#include "Platform/XDGLaunchAtLogin.hpp"

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

} // namespace

XDGLaunchAtLogin::XDGLaunchAtLogin(std::filesystem::path entry, std::filesystem::path executable)
    : entry_(std::move(entry)), executable_(std::move(executable)) {}

std::filesystem::path XDGLaunchAtLogin::defaultEntry(const UserDirectories& directories) {
    return directories.configHome() / "autostart" / "quorvane.desktop";
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
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XDGLaunchAtLogin::isEnabled() {
    std::ifstream file(entry_);
    if (!file) {
        return false;
    }
    for (std::string line; std::getline(file, line);) {
        if (line == "Hidden=true") {
            return false;
        }
    }
    return true;
}

void XDGLaunchAtLogin::setEnabled(bool enabled) {
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
