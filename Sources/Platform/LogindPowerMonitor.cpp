#include "Platform/LogindPowerMonitor.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/SignalFreeThread.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace quorvane {

namespace {

const Logger logger(AppBundleIdentifier, "Power");

struct BusRelease {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotRelease {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusRelease>;
using Slot = std::unique_ptr<sd_bus_slot, SlotRelease>;

Bus connect(const std::optional<std::string>& address, int& result) {
    sd_bus* bus = nullptr;
    if (!address) {
        result = sd_bus_open_system(&bus);
        return Bus(result < 0 ? nullptr : bus);
    }
    result = sd_bus_new(&bus);
    if (result < 0) {
        return nullptr;
    }
    Bus owned(bus);
    if ((result = sd_bus_set_address(bus, address->c_str())) < 0 ||
        (result = sd_bus_set_bus_client(bus, 1)) < 0 || (result = sd_bus_start(bus)) < 0) {
        return nullptr;
    }
    return owned;
}

// Milliseconds until sd-bus wants to run again, or -1 for no deadline.
int pollTimeout(sd_bus* bus) {
    std::uint64_t deadline = 0;
    if (sd_bus_get_timeout(bus, &deadline) < 0 || deadline == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t current =
        static_cast<std::uint64_t>(now.tv_sec) * 1000000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    return deadline <= current ? 0 : static_cast<int>((deadline - current + 999) / 1000);
}

} // namespace

// The bus and slot belong to the thread once it runs; the owner only wakes it and joins it.
struct LogindPowerMonitor::Listener {
    Listener(Bus bus, std::function<void()> willSleep, std::function<void()> didWake)
        : bus(std::move(bus)), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          willSleep(std::move(willSleep)), didWake(std::move(didWake)) {}

    ~Listener() {
        if (thread.joinable()) {
            const std::uint64_t one = 1;
            while (::write(wake.get(), &one, sizeof one) < 0 && errno == EINTR) {
            }
            thread.join();
        }
        slot.reset();
    }

    static int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto* listener = static_cast<Listener*>(userdata);
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) < 0) {
            return 0;
        }
        if (sleeping) {
            listener->willSleep();
        } else {
            listener->didWake();
        }
        return 0;
    }

    void run() {
        for (;;) {
            const int processed = sd_bus_process(bus.get(), nullptr);
            if (processed < 0) {
                logger.error("lost the system bus: " + std::string(std::strerror(-processed)));
                return;
            }
            if (processed > 0) {
                continue;
            }
            pollfd descriptors[2] = {
                {sd_bus_get_fd(bus.get()), static_cast<short>(sd_bus_get_events(bus.get())), 0},
                {wake.get(), POLLIN, 0},
            };
            if (::poll(descriptors, 2, pollTimeout(bus.get())) < 0 && errno != EINTR) {
                return;
            }
            if (descriptors[1].revents != 0) {
                return;
            }
        }
    }

    Bus bus;
    Slot slot;
    FileDescriptor wake;
    std::function<void()> willSleep;
    std::function<void()> didWake;
    std::thread thread;
};

LogindPowerMonitor::LogindPowerMonitor(std::optional<std::string> busAddress)
    : busAddress_(std::move(busAddress)) {}

LogindPowerMonitor::~LogindPowerMonitor() = default;

void LogindPowerMonitor::start(std::function<void()> willSleep, std::function<void()> didWake) {
    if (listener_) {
        return;
    }
    int result = 0;
    Bus bus = connect(busAddress_, result);
    if (!bus) {
        logger.info("no system bus (" + std::string(std::strerror(-result)) +
                    "); sleep and wake are not observed");
        return;
    }
    auto listener = std::make_unique<Listener>(std::move(bus), std::move(willSleep), std::move(didWake));
    if (!listener->wake) {
        logger.error("cannot watch for sleep: " + std::string(std::strerror(errno)));
        return;
    }
    sd_bus_slot* slot = nullptr;
    result = sd_bus_match_signal(listener->bus.get(), &slot, "org.freedesktop.login1",
                                 "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                 "PrepareForSleep", &Listener::onPrepareForSleep, listener.get());
    if (result < 0) {
        logger.error("cannot subscribe to sleep notifications: " + std::string(std::strerror(-result)));
        return;
    }
    listener->slot.reset(slot);

    listener->thread = startSignalFreeThread([raw = listener.get()] { raw->run(); });
    listener_ = std::move(listener);
}

} // namespace quorvane
