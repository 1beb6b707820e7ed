#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvane {

// Who may talk to the helper: a process whose executable is named like the app and whose contents
// hash to the app installed beside the helper, as taken when the helper started.
class ClientRequirement {
public:
    ClientRequirement(std::string executableName, std::string sha256);

    // The app beside the helper: bin/Quorvane next to bin/OrvalithHelper in the build tree, or
    // <prefix>/bin/Quorvane for <prefix>/libexec/quorvane/OrvalithHelper once installed. None when
    // it is missing or unreadable.
    static std::optional<ClientRequirement> forAppBeside(const std::filesystem::path& helperExecutable);
    static std::optional<std::filesystem::path> appBeside(const std::filesystem::path& helperExecutable);

    // Reads the peer's executable through /proc; a process that is gone or unreadable fails.
    bool isSatisfiedBy(pid_t process, const std::filesystem::path& procRoot = "/proc") const;

    const std::string& executableName() const { return executableName_; }
    const std::string& sha256() const { return sha256_; }

    static constexpr const char* appExecutableName = "Quorvane";

private:
    std::string executableName_;
    std::string sha256_;
};

} // namespace quorvane
