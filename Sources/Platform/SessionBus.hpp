#pragma once

#include <memory>
#include <optional>
#include <string>

struct sd_bus;

namespace quorvane {

// A connection to the user's session bus (or to a bus at a given address), owned and closed once.
class SessionBus {
public:
    // Without an address: DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus. Absent when no bus
    // answers; `failure` then says why.
    static std::optional<SessionBus> connect(const std::optional<std::string>& address, std::string& failure);

    sd_bus* get() const { return bus_.get(); }

private:
    struct Release {
        void operator()(sd_bus* bus) const;
    };
    explicit SessionBus(sd_bus* bus) : bus_(bus) {}

    std::unique_ptr<sd_bus, Release> bus_;
};

} // namespace quorvane
