#pragma once

#include "Platform/LaunchAtLogin.hpp"
#include "Platform/UserDirectories.hpp"

#include <filesystem>

namespace quorvane {

// Launch at login as an XDG autostart entry: enabling writes a desktop entry that starts the app,
// disabling removes it. An entry marked Hidden=true (the desktop's way to switch it off) counts as
// disabled.
class XDGLaunchAtLogin final : public LaunchAtLogin {
public:
    XDGLaunchAtLogin(std::filesystem::path entry, std::filesystem::path executable);

    bool isEnabled() override;
    // Throws PlatformServiceError naming the entry when it cannot be written or removed.
    void setEnabled(bool enabled) override;

    // <config home>/autostart/quorvane.desktop.
    static std::filesystem::path defaultEntry(const UserDirectories& directories = UserDirectories());
    // This process's own executable.
    static std::filesystem::path currentExecutable();
    // The entry's text for an executable, its path quoted as desktop entries require.
    static std::string desktopEntry(const std::filesystem::path& executable);

private:
    std::filesystem::path entry_;
    std::filesystem::path executable_;
};

} // namespace quorvane
