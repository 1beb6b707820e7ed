#include "Platform/SessionBus.hpp"

#include <cstring>
#include <systemd/sd-bus.h>

namespace quorvane {

void SessionBus::Release::operator()(sd_bus* bus) const {
    sd_bus_flush_close_unref(bus);
}

std::optional<SessionBus> SessionBus::connect(const std::optional<std::string>& address,
                                              std::string& failure) {
    sd_bus* raw = nullptr;
    int result = 0;
    if (!address) {
        result = sd_bus_open_user(&raw);
        if (result < 0) {
            failure = std::strerror(-result);
            return std::nullopt;
        }
    } else {
        if ((result = sd_bus_new(&raw)) < 0) {
            failure = std::strerror(-result);
            return std::nullopt;
        }
        SessionBus owned(raw);
        if ((result = sd_bus_set_address(raw, address->c_str())) < 0 ||
            (result = sd_bus_set_bus_client(raw, 1)) < 0 || (result = sd_bus_start(raw)) < 0) {
            failure = std::strerror(-result);
            return std::nullopt;
        }
        raw = owned.bus_.release();
    }
    SessionBus bus(raw);
    // The connection is made lazily: ask for our unique name so an unreachable bus shows now.
    const char* unique = nullptr;
    if ((result = sd_bus_get_unique_name(raw, &unique)) < 0) {
        failure = std::strerror(-result);
        return std::nullopt;
    }
    return bus;
}

} // namespace quorvane
