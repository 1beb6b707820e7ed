#include "Platform/PlatformServiceError.hpp"
#include "Platform/XDGLaunchAtLogin.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace quorvane {
namespace {

using ::testing::HasSubstr;
using testing::TemporaryDirectory;

std::string contents(const std::filesystem::path& path) {
    return (std::stringstream() << std::ifstream(path).rdbuf()).str();
}

TEST(XDGLaunchAtLogin, EnablingWritesAnAutostartEntryAndDisablingRemovesIt) {
    TemporaryDirectory directory;
    const auto entry = directory.path() / "config" / "autostart" / "com.orvalith.quorvane.desktop";
    XDGLaunchAtLogin login(entry, "/opt/Quorvane Beta/bin/Quorvane");
    EXPECT_FALSE(login.isEnabled());

    login.setEnabled(true);
    EXPECT_TRUE(login.isEnabled());
    const auto text = contents(entry);
    EXPECT_THAT(text, HasSubstr("\nExec=\"/opt/Quorvane Beta/bin/Quorvane\"\n"));
    EXPECT_THAT(text, HasSubstr("\nTryExec=/opt/Quorvane Beta/bin/Quorvane\n"));

    login.setEnabled(false);
    EXPECT_FALSE(login.isEnabled());
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_NO_THROW(login.setEnabled(false));

    // An unwritable entry is an error naming it.
    std::filesystem::remove_all(entry.parent_path());
    std::ofstream(entry.parent_path()) << "a file where a folder should be";
    EXPECT_THAT([&] { login.setEnabled(true); }, ::testing::ThrowsMessage<PlatformServiceError>(
                                                     HasSubstr("autostart/com.orvalith.quorvane.desktop")));
    // What the desktop would expand is escaped.
    EXPECT_THAT(XDGLaunchAtLogin::desktopEntry("/tmp/100%/a\"b$c\\d"),
                HasSubstr("\nExec=\"/tmp/100%%/a\\\\\"b\\\\$c\\\\\\\\d\"\n"));
}

TEST(XDGLaunchAtLogin, AnEntryTheDesktopSwitchedOffIsDisabled) {
    const std::pair<std::string, bool> entries[] = {
        {"Exec=Quorvane\n", true},
        {"Exec=Quorvane\nHidden=true\n", false},
        {"Exec=Quorvane\nX-GNOME-Autostart-enabled=false\n", false},
    };
    TemporaryDirectory directory;
    const auto entry = directory.path() / "com.orvalith.quorvane.desktop";
    for (const auto& [text, enabled] : entries) {
        std::ofstream(entry) << "[Desktop Entry]\nType=Application\n" << text;
        EXPECT_EQ(XDGLaunchAtLogin(entry, "Quorvane").isEnabled(), enabled) << text;
    }
}

TEST(XDGLaunchAtLogin, TheOldEntryIsTakenOverWithTheUsersChoice) {
    TemporaryDirectory directory;
    const auto legacy = directory.path() / "quorvane.desktop";
    const auto entry = directory.path() / "com.orvalith.quorvane.desktop";
    std::ofstream(legacy)
        << "[Desktop Entry]\nType=Application\nExec=Quorvane\nX-GNOME-Autostart-enabled=false\n";
    EXPECT_FALSE(XDGLaunchAtLogin(entry, "/usr/bin/Quorvane").isEnabled());
    EXPECT_FALSE(std::filesystem::exists(legacy));

    std::filesystem::remove(entry);
    std::ofstream(legacy) << "[Desktop Entry]\nType=Application\nExec=Quorvane\n";
    EXPECT_TRUE(XDGLaunchAtLogin(entry, "/usr/bin/Quorvane").isEnabled());
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_THAT(contents(entry), HasSubstr("\nIcon=com.orvalith.quorvane\n"));
}

} // namespace
} // namespace quorvane
