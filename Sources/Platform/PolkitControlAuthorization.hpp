#pragma once

#include "Platform/ControlAuthorization.hpp"

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvane {

// The login session a process belongs to, as logind keeps it.
struct LoginSessionState {
    bool active = false;
    bool remote = false;
};

// Polkit decides (the control-fans action, asked without interaction for the peer process). Where no
// polkit answers, root and a user whose login session is local and active may; where logind keeps no
// session either (containers, CI), root alone.
class PolkitControlAuthorization final : public ControlAuthorization {
public:
    using SessionOf = std::function<std::optional<LoginSessionState>(pid_t)>;

    // The system bus and logind (sd-login) unless a test hands in its own.
    explicit PolkitControlAuthorization(std::optional<std::string> busAddress = std::nullopt,
                                        SessionOf sessionOf = logindSessionOf);

    bool mayControl(const PeerProcess& peer) override;

    // None when the process belongs to no session logind knows.
    static std::optional<LoginSessionState> logindSessionOf(pid_t pid);

    static constexpr const char* actionID = "com.orvalith.quorvane.control-fans";

private:
    // Polkit's verdict; none when no polkit answers.
    std::optional<bool> askPolkit(const PeerProcess& peer) const;

    std::optional<std::string> busAddress_;
    SessionOf sessionOf_;
};

} // namespace quorvane
