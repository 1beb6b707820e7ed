#include "Platform/FileDescriptor.hpp"
#include "Platform/LogindPowerMonitor.hpp"
#include "Support/Collected.hpp"
#include "Support/PrivateBus.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace quorvane {
namespace {

using testing::BusService;
using testing::Collected;
using testing::PrivateBus;

bool eventually(const std::function<bool()>& condition) {
    for (int attempt = 0; attempt < 1000 && !condition(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

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

TEST(LogindPowerMonitor, SleepWaitsForTheHandBackOfAnActiveSession) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    StandInLogind logind(bus);
    ASSERT_TRUE(logind.ok());
    Collected<std::string> events;
    LogindPowerMonitor monitor(bus.address());
    monitor.setControlActive(true); // a session begun before the monitor started
    monitor.start([&] { events.add("sleep"); }, [&] { events.add("wake"); });
    ASSERT_TRUE(monitor.isListening());
    ASSERT_TRUE(eventually([&] { return logind.inhibitors().size() == 1; }));
    EXPECT_EQ(logind.inhibitors()[0], "sleep Quorvane Handing the fans back to the system delay");

    logind.announce(true);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_FALSE(logind.released(0)) << "sleep waits until the session has handed the fans back";
    monitor.setControlActive(false); // the hand-back ended the session
    EXPECT_TRUE(eventually([&] { return logind.released(0); }));

    monitor.setControlActive(true); // a session that begins while asleep holds sleep back from the wake on
    logind.announce(false);
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.values(), (std::vector<std::string>{"sleep", "wake"}));
    ASSERT_TRUE(eventually([&] { return logind.inhibitors().size() == 2; }));
    EXPECT_FALSE(logind.released(1));
}

TEST(LogindPowerMonitor, WithoutABusItDoesNothing) {
    LogindPowerMonitor monitor("unix:path=/nonexistent/quorvane-test-bus");
    monitor.setControlActive(true);
    monitor.start([] { FAIL() << "no bus, no sleep"; }, [] { FAIL() << "no bus, no wake"; });
    EXPECT_FALSE(monitor.isListening());
}

} // namespace
} // namespace quorvane
