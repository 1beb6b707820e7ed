#include "Platform/LogindPowerMonitor.hpp"
#include "Platform/SystemCommand.hpp"
#include "Support/Collected.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

namespace quorvane {
namespace {

// A private message bus in the background for the length of a test; nullopt without dbus-daemon.
class PrivateBus {
public:
    PrivateBus() {
        const auto started = SystemCommand::run(
            {"dbus-daemon", "--session", "--fork", "--nopidfile", "--address=" + address(), "--print-pid=1"});
        if (started.exitStatus == 0) {
            daemon_ = std::stoi(started.output);
        }
    }
    ~PrivateBus() {
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return daemon_ > 0; }
    std::string address() const { return "unix:path=" + (directory_.path() / "bus").string(); }

    // Sends PrepareForSleep as logind does, under logind's name.
    bool announce(bool sleeping) {
        sd_bus* bus = nullptr;
        const bool sent = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address().c_str()) >= 0 &&
                          sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
                          sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0 &&
                          sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                             "PrepareForSleep", "b", static_cast<int>(sleeping)) >= 0 &&
                          sd_bus_flush(bus) >= 0;
        sd_bus_flush_close_unref(bus);
        return sent;
    }

private:
    testing::TemporaryDirectory directory_;
    pid_t daemon_ = 0;
};

TEST(LogindPowerMonitor, PrepareForSleepBecomesWillSleepThenDidWake) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    testing::Collected<std::string> events;
    LogindPowerMonitor monitor(bus.address());
    monitor.start([&] { events.add("sleep"); }, [&] { events.add("wake"); });
    ASSERT_TRUE(monitor.isListening());
    ASSERT_TRUE(bus.announce(true));
    ASSERT_TRUE(events.waitFor(1));
    ASSERT_TRUE(bus.announce(false));
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.values(), (std::vector<std::string>{"sleep", "wake"}));
}

TEST(LogindPowerMonitor, WithoutABusItDoesNothing) {
    LogindPowerMonitor monitor("unix:path=/nonexistent/quorvane-test-bus");
    monitor.start([] { FAIL() << "no bus, no sleep"; }, [] { FAIL() << "no bus, no wake"; });
    EXPECT_FALSE(monitor.isListening());
}

} // namespace
} // namespace quorvane
