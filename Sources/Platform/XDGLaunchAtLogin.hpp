#pragma once

#include "Platform/LaunchAtLogin.hpp"
#include "Platform/UserDirectories.hpp"

#include <filesystem>

namespace quorvane {

// Launch at login as an XDG autostart entry named after the app id: enabling writes a desktop entry
// that starts the app, disabling removes it. An entry the desktop switched off (Hidden=true or
// X-GNOME-Autostart-enabled=false) counts as disabled. An entry under the old name, quorvane.desktop,
// is taken over on first use with the user's choice kept.
class XDGLaunchAtLogin final : public LaunchAtLogin {
public:
    XDGLaunchAtLogin(std::filesystem::path entry, std::filesystem::path executable);

    bool isEnabled() override;
    // Throws PlatformServiceError naming the entry when it cannot be written or removed.
    void setEnabled(bool enabled) override;

    // <config home>/autostart/com.orvalith.quorvane.desktop.
    static std::filesystem::path defaultEntry(const UserDirectories& directories = UserDirectories());
    // This process's own executable.
    static std::filesystem::path currentExecutable();
    // The entry's text for an executable, its path quoted as desktop entries require.
    static std::string desktopEntry(const std::filesystem::path& executable);

private:
    void migrateLegacyEntry();

    std::filesystem::path entry_;
    std::filesystem::path executable_;
};

} // namespace quorvane
