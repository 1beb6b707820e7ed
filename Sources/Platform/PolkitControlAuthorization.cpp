#include "Platform/PolkitControlAuthorization.hpp"

#include "Platform/PeerProcess.hpp"

#include <cstdlib>
#include <memory>
#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>

namespace quorvane {

namespace {

struct BusRelease {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageRelease {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusRelease>;
using Message = std::unique_ptr<sd_bus_message, MessageRelease>;

// Polkit answers a question without interaction at once; a stalled one is no answer.
constexpr std::uint64_t callTimeoutMicroseconds = 5'000'000;

Bus connect(const std::optional<std::string>& address) {
    sd_bus* raw = nullptr;
    if (!address) {
        return Bus(sd_bus_open_system(&raw) >= 0 ? raw : nullptr);
    }
    if (sd_bus_new(&raw) < 0) {
        return nullptr;
    }
    Bus bus(raw);
    if (sd_bus_set_address(raw, address->c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
        sd_bus_start(raw) < 0) {
        return nullptr;
    }
    return bus;
}

// The subject polkit examines: the very process, by pidfd where there is one, and by pid and start
// time (which tell it from a later process with the same pid) in any case.
bool appendSubject(sd_bus* bus, sd_bus_message* call, const PeerProcess& peer) {
    const bool byPidfd = peer.hasPidfd() && sd_bus_can_send(bus, SD_BUS_TYPE_UNIX_FD) > 0;
    return sd_bus_message_open_container(call, 'r', "sa{sv}") >= 0 &&
           sd_bus_message_append(call, "s", "unix-process") >= 0 &&
           sd_bus_message_open_container(call, 'a', "{sv}") >= 0 &&
           sd_bus_message_append(call, "{sv}", "pid", "u", static_cast<std::uint32_t>(peer.pid())) >= 0 &&
           sd_bus_message_append(call, "{sv}", "start-time", "t", peer.startTime()) >= 0 &&
           sd_bus_message_append(call, "{sv}", "uid", "i", static_cast<std::int32_t>(peer.uid())) >= 0 &&
           (!byPidfd || sd_bus_message_append(call, "{sv}", "pidfd", "h", peer.pidfd()) >= 0) &&
           sd_bus_message_close_container(call) >= 0 && sd_bus_message_close_container(call) >= 0;
}

} // namespace

PolkitControlAuthorization::PolkitControlAuthorization(std::optional<std::string> busAddress,
                                                       SessionOf sessionOf)
    : busAddress_(std::move(busAddress)), sessionOf_(std::move(sessionOf)) {}

bool PolkitControlAuthorization::mayControl(const PeerProcess& peer) {
    if (const auto verdict = askPolkit(peer)) {
        return *verdict;
    }
    if (peer.uid() == 0) {
        return true;
    }
    const auto session = sessionOf_ ? sessionOf_(peer.pid()) : std::nullopt;
    // Asked by pid: the answer counts only if that pid is still the process examined.
    return session && session->active && !session->remote && peer.isUnchanged();
}

std::optional<bool> PolkitControlAuthorization::askPolkit(const PeerProcess& peer) const {
    const auto bus = connect(busAddress_);
    if (!bus) {
        return std::nullopt;
    }
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &raw, "org.freedesktop.PolicyKit1",
                                       "/org/freedesktop/PolicyKit1/Authority",
                                       "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization") < 0) {
        return std::nullopt;
    }
    const Message call(raw);
    constexpr std::uint32_t noInteraction = 0;
    if (!appendSubject(bus.get(), call.get(), peer) ||
        sd_bus_message_append(call.get(), "sa{ss}us", actionID, 0, noInteraction, "") < 0) {
        return std::nullopt;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* rawReply = nullptr;
    const int result = sd_bus_call(bus.get(), call.get(), callTimeoutMicroseconds, &error, &rawReply);
    sd_bus_error_free(&error);
    // Any failure (no polkit on the bus, an action it does not know, a timeout) is no answer.
    if (result < 0) {
        return std::nullopt;
    }
    const Message reply(rawReply);
    int authorized = 0;
    int challenge = 0;
    if (sd_bus_message_enter_container(reply.get(), 'r', "bba{ss}") < 0 ||
        sd_bus_message_read(reply.get(), "bb", &authorized, &challenge) < 0) {
        return std::nullopt;
    }
    return authorized != 0;
}

std::optional<LoginSessionState> PolkitControlAuthorization::logindSessionOf(pid_t pid) {
    char* raw = nullptr;
    if (sd_pid_get_session(pid, &raw) < 0 || raw == nullptr) {
        return std::nullopt;
    }
    const std::unique_ptr<char, decltype(&std::free)> session(raw, &std::free);
    const int active = sd_session_is_active(session.get());
    const int remote = sd_session_is_remote(session.get());
    if (active < 0 || remote < 0) {
        return std::nullopt;
    }
    return LoginSessionState{active > 0, remote > 0};
}

} // namespace quorvane
