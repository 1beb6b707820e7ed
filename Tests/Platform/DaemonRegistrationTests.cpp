#include "Platform/DaemonRegistrationFactory.hpp"
#include "Platform/LocalDaemonRegistration.hpp"
#include "Platform/SystemdDaemonRegistration.hpp"
#include "Support/Collected.hpp"
#include "Support/Eventually.hpp"
#include "Support/MessageOf.hpp"
#include "Support/PrivateBus.hpp"
#include "Support/ScopedEnvironment.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>

namespace quorvane {
namespace {

using testing::Collected;
using testing::eventually;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::TemporaryDirectory;
using Calls = std::vector<std::string>;

const std::string socketUnit = "com.orvalith.quorvane.helper.socket";
const std::string serviceUnit = "com.orvalith.quorvane.helper.service";

// What a reported failure says, or "no error".
std::string failureOf(std::exception_ptr failure) {
    return testing::messageOf([&] {
        if (failure) {
            std::rethrow_exception(failure);
        }
    });
}

// systemd's manager and the helper's socket unit, as far as registration uses them. It keeps the
// calls that change something and signals the socket's state changes as systemd does for subscribers.
class StandInSystemd {
public:
    StandInSystemd(const testing::PrivateBus& bus, std::string unitFileState, std::string activeState)
        : unit_{{"LoadState", "loaded"}, {"ActiveState", activeState}, {"UnitFileState", unitFileState}},
          service_(bus, "org.freedesktop.systemd1") {
        char* path = nullptr;
        sd_bus_path_encode("/org/freedesktop/systemd1/unit", socketUnit.c_str(), &path);
        socketPath_ = path;
        std::free(path);
        service_.addObject("/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager", managerVtable,
                           this);
        service_.addObject(socketPath_, "org.freedesktop.systemd1.Unit", unitVtable, this);
        service_.start();
    }

    bool ok() const { return service_.ok(); }
    void signalActiveState(std::string activeState) {
        service_.post([this, activeState](sd_bus* bus) {
            {
                std::lock_guard lock(mutex_);
                unit_["ActiveState"] = activeState;
            }
            sd_bus_emit_properties_changed(bus, socketPath_.c_str(), "org.freedesktop.systemd1.Unit",
                                           "ActiveState", nullptr);
        });
    }
    void refuse(std::string name) {
        std::lock_guard lock(mutex_);
        refusal_ = std::move(name);
    }
    Calls calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    static std::string readUnits(sd_bus_message* message) {
        char** units = nullptr;
        sd_bus_message_read_strv(message, &units);
        std::string joined;
        for (char** unit = units; unit && *unit; ++unit) {
            joined += " " + std::string(*unit);
            std::free(*unit);
        }
        std::free(units);
        return joined;
    }

    // Every manager method; keeps "<method> <arguments>" of those that change something.
    static int call(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& systemd = *static_cast<StandInSystemd*>(userdata);
        const std::string method = sd_bus_message_get_member(message);
        std::lock_guard lock(systemd.mutex_);
        if (method == "LoadUnit") {
            return sd_bus_reply_method_return(message, "o", systemd.socketPath_.c_str());
        } else if (method == "Subscribe" || method == "Reload") {
            if (method == "Reload") {
                systemd.calls_.push_back(method);
            }
            return sd_bus_reply_method_return(message, "");
        } else if (method == "StartUnit" || method == "StopUnit") {
            const char* unit = nullptr;
            const char* mode = nullptr;
            sd_bus_message_read(message, "ss", &unit, &mode);
            systemd.calls_.push_back(method + " " + unit + " " + mode);
            if (unit == socketUnit) {
                systemd.unit_["ActiveState"] = method == "StartUnit" ? "active" : "inactive";
            }
            return sd_bus_reply_method_return(message, "o", "/org/freedesktop/systemd1/job/1");
        }
        systemd.calls_.push_back(method + readUnits(message));
        if (method == "DisableUnitFiles") {
            systemd.unit_["UnitFileState"] = "disabled";
            return sd_bus_reply_method_return(message, "a(sss)", 0);
        } else if (systemd.refusal_) {
            return sd_bus_reply_method_errorf(message, systemd.refusal_->c_str(), "Refused.");
        }
        systemd.unit_["UnitFileState"] = "enabled";
        return sd_bus_reply_method_return(message, "ba(sss)", 0, 0);
    }
    static int property(sd_bus*, const char*, const char*, const char* name, sd_bus_message* reply,
                        void* userdata, sd_bus_error*) {
        auto& systemd = *static_cast<StandInSystemd*>(userdata);
        std::lock_guard lock(systemd.mutex_);
        return sd_bus_message_append(reply, "s", systemd.unit_[name].c_str());
    }

    static constexpr sd_bus_vtable managerVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("LoadUnit", "s", "o", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Reload", "", "", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Subscribe", "", "", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("StartUnit", "ss", "o", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("StopUnit", "ss", "o", call, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    static constexpr sd_bus_vtable unitVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("LoadState", "s", property, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_PROPERTY("ActiveState", "s", property, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_PROPERTY("UnitFileState", "s", property, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
        SD_BUS_VTABLE_END,
    };

    std::mutex mutex_;
    std::string socketPath_;
    std::map<std::string, std::string> unit_;
    std::optional<std::string> refusal_;
    Calls calls_;
    // Last, so its thread stops before the state it serves goes.
    testing::BusService service_;
};

class SystemdDaemonRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
    }
    testing::PrivateBus bus;
    Collected<std::string> outcomes;
    const DaemonRegistration::Completion report = [this](std::exception_ptr failure) {
        outcomes.add(failureOf(failure));
    };
};

// The poller reads the registration every poll: that must be the state systemd last signalled, not
// a systemctl run each time. Unregistering disables and stops both units.
TEST_F(SystemdDaemonRegistrationTest, PollsReadTheSignalledStateWithoutStartingAProcess) {
    StandInSystemd systemd(bus, "enabled", "active");
    ASSERT_TRUE(systemd.ok());
    TemporaryDirectory programs;
    const auto ran = programs.path() / "ran";
    std::ofstream(programs.path() / "systemctl") << "#!/bin/sh\necho \"$@\" >> " << ran.string() << "\n";
    std::filesystem::permissions(programs.path() / "systemctl", std::filesystem::perms::owner_all);
    testing::ScopedEnvironment path("PATH", programs.path().string() + ":" + std::getenv("PATH"));
    testing::ScopedEnvironment systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address());

    // Any existing folder stands for systemd's runtime folder.
    auto registration = makeDaemonRegistration(programs.path());
    ASSERT_TRUE(dynamic_cast<SystemdDaemonRegistration*>(registration.get()));
    EXPECT_TRUE(eventually([&] { return registration->status() == 1; }));
    for (int poll = 0; poll < 100; ++poll) {
        ASSERT_EQ(registration->status(), 1);
    }
    systemd.signalActiveState("failed");
    EXPECT_TRUE(eventually([&] { return registration->status() == 0; }));
    EXPECT_FALSE(std::filesystem::exists(ran)) << "systemctl ran";

    registration->unregisterDaemon(report);
    ASSERT_TRUE(outcomes.waitFor(1));
    EXPECT_EQ(outcomes.values()[0], "no error");
    EXPECT_EQ(systemd.calls(),
              (Calls{"DisableUnitFiles " + socketUnit + " " + serviceUnit, "Reload",
                     "StopUnit " + socketUnit + " replace", "StopUnit " + serviceUnit + " replace"}));
}

// Every call is a polkit question: only what the socket lacks is asked, a masked socket is left to
// the administrator with the command that lifts the mask, and systemd's refusals say what to do.
TEST_F(SystemdDaemonRegistrationTest, RegisteringAsksOnlyForWhatIsMissing) {
    struct Case {
        const char* fileState;
        const char* refusal;
        Calls calls;
        ::testing::Matcher<std::string> outcome;
    };
    const Calls enabling{"EnableUnitFiles " + socketUnit};
    const auto unmask = AllOf(StartsWith("An administrator has masked"), HasSubstr("systemctl unmask"));
    const Case cases[] = {
        {"disabled", nullptr, {enabling[0], "Reload", "StartUnit " + socketUnit + " replace"}, "no error"},
        {"enabled", nullptr, {"StartUnit " + socketUnit + " replace"}, "no error"},
        {"masked", nullptr, {}, unmask},
        {"disabled", "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired", enabling,
         HasSubstr("Start your desktop's polkit agent")},
        {"disabled", "org.freedesktop.DBus.Error.AccessDenied", enabling,
         StartsWith("You are not allowed to start the helper.")},
    };
    for (const auto& check : cases) {
        StandInSystemd systemd(bus, check.fileState, "inactive");
        ASSERT_TRUE(systemd.ok());
        if (check.refusal) {
            systemd.refuse(check.refusal);
        }
        SystemdDaemonRegistration registration(bus.address());
        const auto before = outcomes.size();
        registration.registerDaemon(report);
        ASSERT_TRUE(outcomes.waitFor(before + 1));
        EXPECT_EQ(systemd.calls(), check.calls) << check.fileState;
        EXPECT_THAT(outcomes.values().back(), check.outcome);
    }
}

TEST(SystemdDaemonRegistration, StatusComesFromTheSocketUnit) {
    using Unit = SystemdDaemonRegistration::UnitState;
    const std::vector<std::pair<Unit, int>> table{
        {{"loaded", "active", "enabled-runtime"}, 1},
        {{"loaded", "inactive", "enabled"}, 0}, // registering starts it again
        {{"loaded", "active", "disabled"}, 0},
        {{"loaded", "inactive", "masked-runtime"}, 2},
        {{"not-found", "inactive", ""}, 3},
        {{"loaded", "active", "static"}, SystemdDaemonRegistration::unknownStatus},
    };
    for (const auto& [unit, status] : table) {
        EXPECT_EQ(SystemdDaemonRegistration::statusOf(unit), status)
            << unit.loadState << " " << unit.activeState << " " << unit.unitFileState;
    }
}

// Without systemd's runtime folder the registration is a record file.
TEST(LocalDaemonRegistration, RecordFileIsTheRegistration) {
    TemporaryDirectory directory;
    EXPECT_TRUE(
        dynamic_cast<LocalDaemonRegistration*>(makeDaemonRegistration(directory.path() / "absent").get()));
    LocalDaemonRegistration registration(directory.path() / "state" / "quorvane" / "helper-registration");
    Calls outcomes;
    const auto report = [&](std::exception_ptr failure) {
        outcomes.push_back(failureOf(failure));
    };
    EXPECT_EQ(registration.status(), 0);
    registration.registerDaemon(report);
    EXPECT_EQ(registration.status(), 1);
    registration.unregisterDaemon(report);
    EXPECT_EQ(registration.status(), 0);
    registration.unregisterDaemon(report); // finds nothing to remove, and that is fine
    EXPECT_EQ(outcomes, (Calls{"no error", "no error", "no error"}));
}

} // namespace
} // namespace quorvane
