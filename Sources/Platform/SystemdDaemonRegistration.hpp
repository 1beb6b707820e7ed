#pragma once

#include "Platform/DaemonRegistration.hpp"

#include <memory>
#include <optional>
#include <string>

namespace quorvane {

// The helper daemon as systemd units, driven over D-Bus (org.freedesktop.systemd1) from a thread of
// its own: the socket the helper is started from is the registration. Registering enables the
// socket, reloads and starts it; unregistering disables both units, reloads and stops them. systemd
// asks polkit, which may ask the user for an administrator's password while the app runs on; a
// refusal is the error. The status is the socket's, kept from systemd's change signals and read
// again after every operation, so reading it costs nothing.
class SystemdDaemonRegistration final : public DaemonRegistration {
public:
    // Without an address: the system bus.
    explicit SystemdDaemonRegistration(std::optional<std::string> busAddress = std::nullopt);
    // Pending completions are dropped.
    ~SystemdDaemonRegistration() override;
    SystemdDaemonRegistration(const SystemdDaemonRegistration&) = delete;
    SystemdDaemonRegistration& operator=(const SystemdDaemonRegistration&) = delete;

    // Unknown until systemd first answers.
    int status() override;
    // Completions run on the registration's own thread.
    void registerDaemon(Completion completion) override;
    void unregisterDaemon(Completion completion) override;

    // What systemd says of the socket unit.
    struct UnitState {
        std::string loadState;
        std::string activeState;
        std::string unitFileState;
    };
    // Enabled and listening 1; disabled or stopped 0 (registering fixes either); masked (an
    // administrator must lift it) 2; not installed 3; anything else unknown.
    static int statusOf(const UnitState& unit);

    static std::string serviceUnit();
    static std::string socketUnit();
    static constexpr int unknownStatus = -1;

private:
    struct Connection;
    std::shared_ptr<Connection> connection_;
};

} // namespace quorvane
