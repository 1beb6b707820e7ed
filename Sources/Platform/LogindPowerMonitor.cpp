#include "Platform/LogindPowerMonitor.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/BusThread.hpp"
#include "Platform/FileDescriptor.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Power");

constexpr const char* logind = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";

struct SlotRelease {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct MessageRelease {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

} // namespace

// The inhibitor is held while control is wanted and the machine is awake; the descriptor logind
// hands out is the inhibitor, and closing it lets sleep go on.
struct LogindPowerMonitor::Listener {
    std::mutex mutex;
    bool wanted = false;
    bool sleeping = false;
    bool requesting = false;
    FileDescriptor inhibitor;
    std::function<void()> willSleep;
    std::function<void()> didWake;
    std::unique_ptr<sd_bus_slot, SlotRelease> slot;
    // Last, so its thread stops before anything it uses goes.
    std::unique_ptr<BusThread> bus;

    static int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto* listener = static_cast<Listener*>(userdata);
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) < 0) {
            return 0;
        }
        {
            std::lock_guard lock(listener->mutex);
            listener->sleeping = sleeping != 0;
            // Before sleeping the inhibitor stays until the hand-back ends the session; after waking
            // a session still active holds sleep back again.
            if (!sleeping) {
                listener->requestIfWanted();
            }
        }
        if (sleeping) {
            listener->willSleep();
        } else {
            listener->didWake();
        }
        return 0;
    }

    // Under mutex.
    void requestIfWanted() {
        if (!wanted || sleeping || requesting || inhibitor || !bus) {
            return;
        }
        requesting = true;
        bus->post([this](sd_bus* connection) { inhibit(connection); });
    }

    void inhibit(sd_bus* connection) {
        sd_bus_message* raw = nullptr;
        int result =
            sd_bus_message_new_method_call(connection, &raw, logind, logindPath, managerInterface, "Inhibit");
        std::unique_ptr<sd_bus_message, MessageRelease> method(raw);
        if (result >= 0) {
            result = sd_bus_message_append(raw, "ssss", "sleep", "Quorvane",
                                           "Handing the fans back to the system", "delay");
        }
        if (result < 0) {
            inhibited(FileDescriptor(), std::strerror(-result));
            return;
        }
        BusThread::call(connection, raw, [this](sd_bus_message* reply, const sd_bus_error* error) {
            int descriptor = -1;
            if (error) {
                inhibited(FileDescriptor(), error->message ? error->message : error->name);
            } else if (sd_bus_message_read(reply, "h", &descriptor) < 0) {
                inhibited(FileDescriptor(), "logind answered without a descriptor");
            } else {
                // The reply owns what it carries.
                FileDescriptor kept(::fcntl(descriptor, F_DUPFD_CLOEXEC, 3));
                const std::string failure = kept ? "" : std::strerror(errno);
                inhibited(std::move(kept), failure);
            }
        });
    }

    void inhibited(FileDescriptor taken, const std::string& failure) {
        std::lock_guard lock(mutex);
        requesting = false;
        if (!taken) {
            logger.error("cannot delay sleep for the fan hand-back: " + failure);
            return;
        }
        if (wanted && !sleeping) {
            inhibitor = std::move(taken);
        } else {
            // Control ended, or sleep began, while logind answered.
            requestIfWanted();
        }
    }

    void setWanted(bool active) {
        std::lock_guard lock(mutex);
        wanted = active;
        if (!active) {
            inhibitor.reset();
        } else {
            requestIfWanted();
        }
    }
};

LogindPowerMonitor::LogindPowerMonitor(std::optional<std::string> busAddress)
    : busAddress_(std::move(busAddress)), listener_(std::make_shared<Listener>()) {}

LogindPowerMonitor::~LogindPowerMonitor() {
    // The thread goes first, so no handler runs while the rest is let go.
    std::unique_ptr<BusThread> bus;
    {
        std::lock_guard lock(listener_->mutex);
        bus = std::move(listener_->bus);
    }
    bus.reset();
}

bool LogindPowerMonitor::isListening() const {
    std::lock_guard lock(listener_->mutex);
    return listener_->bus != nullptr;
}

void LogindPowerMonitor::setControlActive(bool active) {
    listener_->setWanted(active);
}

void LogindPowerMonitor::start(std::function<void()> willSleep, std::function<void()> didWake) {
    auto& listener = *listener_;
    if (isListening()) {
        return;
    }
    auto bus = std::make_unique<BusThread>(busAddress_);
    if (!bus->connected()) {
        logger.info("no system bus (" + std::string(std::strerror(-bus->connectionError())) +
                    "); sleep and wake are not observed");
        return;
    }
    listener.willSleep = std::move(willSleep);
    listener.didWake = std::move(didWake);
    sd_bus_slot* slot = nullptr;
    const int result = sd_bus_match_signal(bus->bus(), &slot, logind, logindPath, managerInterface,
                                           "PrepareForSleep", &Listener::onPrepareForSleep, &listener);
    if (result < 0) {
        logger.error("cannot subscribe to sleep notifications: " + std::string(std::strerror(-result)));
        return;
    }
    listener.slot.reset(slot);
    bus->start();
    std::lock_guard lock(listener.mutex);
    listener.bus = std::move(bus);
    listener.requestIfWanted();
}

} // namespace quorvane
