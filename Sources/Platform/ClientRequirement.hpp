#pragma once

#include "Platform/FileIdentity.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

class PeerProcess;

// Who may talk to the helper: a process whose executable is named like the app and is either the
// installed app's very file or one with the same SHA-256. The installed app is pinned when the
// helper starts and pinned again whenever its file changes (an upgrade), so the app that is
// installed now is the one admitted. Copies share one pin; safe from any thread.
class ClientRequirement {
public:
    using Hasher = std::function<std::optional<std::string>(const std::filesystem::path&)>;

    // Pins the app at `app`, named like that file, now; none when it cannot be read. `hasher` is
    // SHA-256 unless a test counts what gets hashed.
    static std::optional<ClientRequirement> forApp(const std::filesystem::path& app, Hasher hasher = {});
    // The app beside the helper: bin/Quorvane next to bin/OrvalithHelper in the build tree, or
    // <prefix>/bin/Quorvane for <prefix>/libexec/quorvane/OrvalithHelper once installed. None when
    // it is missing or unreadable.
    static std::optional<ClientRequirement> forAppBeside(const std::filesystem::path& helperExecutable);
    static std::optional<std::filesystem::path> appBeside(const std::filesystem::path& helperExecutable);

    // Checks the name first, then the file: the pinned file itself passes at once, a file of
    // another size fails without being read, and only a same-sized copy is hashed, once: a copy that
    // did not match is remembered by its identity until the pin moves. A process that changes while
    // it is checked fails. Never call it on an accept path: hashing can take long.
    bool admits(const PeerProcess& peer) const;

    const std::string& executableName() const { return executableName_; }
    // The hash of the app as pinned last; none while the installed app cannot be read.
    std::optional<std::string> sha256() const;

    static constexpr const char* appExecutableName = "Quorvane";

private:
    struct Pin {
        FileIdentity file;
        std::string sha256;
    };
    struct Shared;

    ClientRequirement(std::filesystem::path app, std::string executableName, Hasher hasher);
    std::optional<Pin> currentPin() const;

    std::string executableName_;
    std::shared_ptr<Shared> shared_;
};

} // namespace quorvane
