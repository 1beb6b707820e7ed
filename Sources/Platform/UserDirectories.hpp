#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quorvane {

// The XDG base folders of the user running the app. A relative XDG variable is ignored, as the
// XDG rules ask; without HOME the password database names the home folder.
class UserDirectories {
public:
    // Looks up an environment variable; absent when unset.
    using Environment = std::function<std::optional<std::string>(const std::string&)>;

    explicit UserDirectories(Environment environment = processEnvironment);

    // $XDG_CONFIG_HOME, else ~/.config. Throws PlatformServiceError when no home folder is known.
    std::filesystem::path configHome() const;
    // $XDG_STATE_HOME, else ~/.local/state. Throws PlatformServiceError when no home folder is known.
    std::filesystem::path stateHome() const;
    // $XDG_RUNTIME_DIR when it is set and absolute.
    std::optional<std::filesystem::path> runtimeDirectory() const;

    static std::optional<std::string> processEnvironment(const std::string& name);

private:
    std::filesystem::path baseFolder(const std::string& variable,
                                     const std::filesystem::path& fallback) const;

    Environment environment_;
};

} // namespace quorvane
