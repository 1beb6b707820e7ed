#pragma once

#include "Platform/FileDescriptor.hpp"
#include "Support/Collected.hpp"
#include "Support/PrivateBus.hpp"

#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace quorvane::testing {

// logind as far as sleep goes: it announces sleep and wake, and hands out "delay" inhibitors whose
// descriptors it watches, as logind does, to learn when each is let go.
class StandInLogind {
public:
    explicit StandInLogind(const PrivateBus& bus) : service_(bus, "org.freedesktop.login1") {
        service_.addObject("/org/freedesktop/login1", "org.freedesktop.login1.Manager", vtable, this);
        service_.start();
    }

    bool ok() const { return service_.ok(); }
    void announce(bool sleeping) {
        service_.post([sleeping](sd_bus* bus) {
            sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "PrepareForSleep", "b", static_cast<int>(sleeping));
        });
    }
    std::vector<std::string> inhibitors() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Every copy of the descriptor handed out is closed.
    bool released(std::size_t inhibitor) {
        std::lock_guard lock(mutex_);
        pollfd watched{watched_.at(inhibitor).get(), POLLIN, 0};
        return ::poll(&watched, 1, 0) == 1 && (watched.revents & POLLHUP) != 0;
    }

private:
    static int inhibit(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& logind = *static_cast<StandInLogind*>(userdata);
        const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
        sd_bus_message_read(message, "ssss", &what, &who, &why, &mode);
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return -errno;
        }
        FileDescriptor handedOut(ends[1]); // the reply carries a copy
        {
            std::lock_guard lock(logind.mutex_);
            logind.requests_.push_back(std::string(what) + " " + who + " " + why + " " + mode);
            logind.watched_.emplace_back(ends[0]);
        }
        return sd_bus_reply_method_return(message, "h", handedOut.get());
    }

    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };

    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<FileDescriptor> watched_;
    BusService service_;
};

// What every power monitor must do around sleep, against the stand-in logind: hold a "delay"
// inhibitor while a session is active, let it go only once the hand-back has ended the session, and
// take one again for a session begun while asleep. `wait` polls a condition the way the caller's
// event loop needs. Returns what went wrong, or nothing.
template <typename MakeMonitor>
std::optional<std::string> sleepWaitsForTheHandBack(const PrivateBus& bus, MakeMonitor makeMonitor,
                                                    const std::function<bool(std::function<bool()>)>& wait) {
    StandInLogind logind(bus);
    Collected<std::string> events;
    auto monitor = makeMonitor(bus.address());
    monitor->setControlActive(true); // a session begun before the monitor started
    monitor->start([&] { events.add("sleep"); }, [&] { events.add("wake"); });
    if (!logind.ok() || !monitor->isListening()) {
        return "the monitor does not listen to the stand-in logind";
    }
    if (!wait([&] { return logind.inhibitors().size() == 1; }) ||
        logind.inhibitors()[0] != "sleep Quorvane Handing the fans back to the system delay") {
        return "no delay inhibitor for the active session";
    }
    logind.announce(true);
    if (!wait([&] { return events.size() == 1; }) || logind.released(0)) {
        return "sleep must wait until the session has handed the fans back";
    }
    monitor->setControlActive(false); // the hand-back ended the session
    if (!wait([&] { return logind.released(0); })) {
        return "the inhibitor outlived the session";
    }
    monitor->setControlActive(true); // a session that begins while asleep holds sleep back from the wake on
    logind.announce(false);
    if (!wait([&] {
            return events.values() == std::vector<std::string>{"sleep", "wake"};
        }) ||
        !wait([&] { return logind.inhibitors().size() == 2; }) || logind.released(1)) {
        return "no inhibitor for a session begun while asleep";
    }
    return std::nullopt;
}

} // namespace quorvane::testing
