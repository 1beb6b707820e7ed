#pragma once

#include "Platform/AppInstanceCommands.hpp"
#include "Platform/AppInstanceState.hpp"
#include "Platform/SessionBus.hpp"

#include <memory>
#include <string>
#include <systemd/sd-bus.h>

namespace quorvane {

// The running app on the session bus: it owns the name com.orvalith.quorvane, answers the methods
// of the interface com.orvalith.quorvane at /com/orvalith/quorvane with its commands, and publishes
// its state there as properties that announce their changes (PropertiesChanged). Everything runs on
// the thread that calls process(), the app's main loop.
class AppInstanceService {
public:
    static inline const std::string busName = "com.orvalith.quorvane";
    static inline const std::string objectPath = "/com/orvalith/quorvane";
    static inline const std::string interfaceName = "com.orvalith.quorvane";
    static inline const std::string errorName = "com.orvalith.quorvane.Error";

    // Serves on `bus` if this process can take the name; null when another process holds it.
    static std::unique_ptr<AppInstanceService> claim(SessionBus& bus);
    ~AppInstanceService();
    AppInstanceService(const AppInstanceService&) = delete;
    AppInstanceService& operator=(const AppInstanceService&) = delete;

    // Calls arriving before the commands are attached are refused with "Quorvane is still starting.".
    void attach(AppInstanceCommands& commands) { commands_ = &commands; }
    // Keeps the state for readers and announces the properties that differ from the last one.
    void publish(const AppInstanceState& state);
    const AppInstanceState& state() const { return state_; }

    // Gives up the name while the app quits, so a start meanwhile becomes the next instance instead
    // of handing its switches to one that is going away.
    void release();

    // The main loop runs process() whenever this descriptor is readable, and once at start.
    int descriptor() const;
    // Answers what has arrived; false once the bus is gone (stop watching the descriptor then).
    bool process();

    // The object's callbacks for sd-bus; `userdata` is the service.
    static int method(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int property(sd_bus* bus, const char* path, const char* interface, const char* property,
                        sd_bus_message* reply, void* userdata, sd_bus_error* error);

private:
    struct SlotRelease {
        void operator()(sd_bus_slot* slot) const;
    };
    explicit AppInstanceService(SessionBus& bus) : bus_(bus) {}

    int answer(sd_bus_message* message);

    SessionBus& bus_;
    std::unique_ptr<sd_bus_slot, SlotRelease> slot_;
    AppInstanceCommands* commands_ = nullptr;
    AppInstanceState state_;
    bool published_ = false;
    bool released_ = false;
};

} // namespace quorvane
