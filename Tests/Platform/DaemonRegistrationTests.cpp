#include "Platform/DaemonRegistrationFactory.hpp"
#include "Platform/LocalDaemonRegistration.hpp"
#include "Platform/SystemCommand.hpp"
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
#include <sstream>

namespace quorvane {
namespace {

using testing::BusService;
using testing::Collected;
using testing::eventually;
using ::testing::HasSubstr;
using testing::PrivateBus;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

// What a reported failure says, or "no error".
std::string failureOf(std::exception_ptr failure) {
    return testing::messageOf([&] {
        if (failure) {
            std::rethrow_exception(failure);
        }
    });
}

// systemd's manager and the helper's socket unit, as far as registration uses them. It keeps the
// calls that change something, can hold EnableUnitFiles as polkit holds it while the user decides,
// and signals the socket's state changes as systemd does for subscribers.
class StandInSystemd {
public:
    StandInSystemd(const PrivateBus& bus, std::string unitFileState, std::string activeState)
        : activeState_(std::move(activeState)), unitFileState_(std::move(unitFileState)),
          service_(bus, "org.freedesktop.systemd1") {
        char* path = nullptr;
        sd_bus_path_encode("/org/freedesktop/systemd1/unit", SystemdDaemonRegistration::socketUnit().c_str(),
                           &path);
        socketPath_ = path;
        std::free(path);
        service_.addObject("/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager", managerVtable,
                           this);
        service_.addObject(socketPath_, "org.freedesktop.systemd1.Unit", unitVtable, this);
        service_.start();
    }

    bool ok() const { return service_.ok(); }
    // Moves the socket's ActiveState and signals it.
    void signalActiveState(std::string activeState) {
        service_.post([this, activeState](sd_bus* bus) {
            {
                std::lock_guard lock(mutex_);
                activeState_ = activeState;
            }
            sd_bus_emit_properties_changed(bus, socketPath_.c_str(), "org.freedesktop.systemd1.Unit",
                                           "ActiveState", nullptr);
        });
    }
    void holdEnabling() {
        std::lock_guard lock(mutex_);
        holdEnabling_ = true;
    }
    void refuse(std::string name, std::string message) {
        std::lock_guard lock(mutex_);
        refusal_ = {std::move(name), std::move(message)};
    }
    bool enablingHeld() {
        std::lock_guard lock(mutex_);
        return heldEnable_ != nullptr;
    }
    void answerEnabling() {
        service_.post([this](sd_bus*) {
            sd_bus_message* held = nullptr;
            {
                std::lock_guard lock(mutex_);
                held = std::exchange(heldEnable_, nullptr);
                holdEnabling_ = false;
            }
            enable(held);
            sd_bus_message_unref(held);
        });
    }
    std::vector<std::string> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    static StandInSystemd& self(void* userdata) { return *static_cast<StandInSystemd*>(userdata); }

    void record(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

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

    int enable(sd_bus_message* message) {
        {
            std::lock_guard lock(mutex_);
            if (refusal_) {
                return sd_bus_reply_method_errorf(message, refusal_->first.c_str(), "%s",
                                                  refusal_->second.c_str());
            }
            unitFileState_ = "enabled";
        }
        return sd_bus_reply_method_return(message, "ba(sss)", 0, 0);
    }

    static int loadUnit(sd_bus_message* message, void* userdata, sd_bus_error*) {
        return sd_bus_reply_method_return(message, "o", self(userdata).socketPath_.c_str());
    }
    static int enableUnitFiles(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& systemd = self(userdata);
        systemd.record("EnableUnitFiles" + readUnits(message));
        {
            std::lock_guard lock(systemd.mutex_);
            if (systemd.holdEnabling_) {
                systemd.heldEnable_ = sd_bus_message_ref(message);
                return 1;
            }
        }
        return systemd.enable(message);
    }
    static int disableUnitFiles(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& systemd = self(userdata);
        systemd.record("DisableUnitFiles" + readUnits(message));
        std::lock_guard lock(systemd.mutex_);
        systemd.unitFileState_ = "disabled";
        return sd_bus_reply_method_return(message, "a(sss)", 0);
    }
    static int reload(sd_bus_message* message, void* userdata, sd_bus_error*) {
        self(userdata).record("Reload");
        return sd_bus_reply_method_return(message, "");
    }
    static int subscribe(sd_bus_message* message, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(message, "");
    }
    static int startOrStop(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& systemd = self(userdata);
        const char* unit = nullptr;
        const char* mode = nullptr;
        sd_bus_message_read(message, "ss", &unit, &mode);
        const bool start = std::string(sd_bus_message_get_member(message)) == "StartUnit";
        systemd.record(std::string(sd_bus_message_get_member(message)) + " " + unit + " " + mode);
        if (unit == SystemdDaemonRegistration::socketUnit()) {
            std::lock_guard lock(systemd.mutex_);
            systemd.activeState_ = start ? "active" : "inactive";
        }
        return sd_bus_reply_method_return(message, "o", "/org/freedesktop/systemd1/job/1");
    }
    static int property(sd_bus*, const char*, const char*, const char* name, sd_bus_message* reply,
                        void* userdata, sd_bus_error*) {
        auto& systemd = self(userdata);
        std::lock_guard lock(systemd.mutex_);
        const std::string& value = std::string(name) == "LoadState"     ? systemd.loadState_
                                   : std::string(name) == "ActiveState" ? systemd.activeState_
                                                                        : systemd.unitFileState_;
        return sd_bus_message_append(reply, "s", value.c_str());
    }

    static constexpr sd_bus_vtable managerVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("LoadUnit", "s", "o", loadUnit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", enableUnitFiles, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", disableUnitFiles, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Reload", "", "", reload, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Subscribe", "", "", subscribe, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("StartUnit", "ss", "o", startOrStop, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("StopUnit", "ss", "o", startOrStop, SD_BUS_VTABLE_UNPRIVILEGED),
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
    std::string loadState_ = "loaded";
    std::string activeState_;
    std::string unitFileState_;
    bool holdEnabling_ = false;
    sd_bus_message* heldEnable_ = nullptr;
    std::optional<std::pair<std::string, std::string>> refusal_;
    std::vector<std::string> calls_;
    // Last, so its thread stops before the state it serves goes.
    BusService service_;
};

// The poller reads the registration every poll: that must be the state systemd last signalled, not
// a systemctl run each time.
TEST(SystemdDaemonRegistration, PollsReadTheSignalledStateWithoutStartingAProcess) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    StandInSystemd systemd(bus, "enabled", "active");
    ASSERT_TRUE(systemd.ok());
    TemporaryDirectory programs;
    const auto ran = programs.path() / "ran";
    std::ofstream(programs.path() / "systemctl") << "#!/bin/sh\necho \"$@\" >> " << ran.string() << "\n";
    std::filesystem::permissions(programs.path() / "systemctl", std::filesystem::perms::owner_all);
    ScopedEnvironment path("PATH", programs.path().string() + ":" + std::getenv("PATH"));
    ScopedEnvironment systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address());

    // Any existing folder stands for systemd's runtime folder.
    auto registration = makeDaemonRegistration(programs.path());
    EXPECT_TRUE(eventually([&] { return registration->status() == 1; }));
    for (int poll = 0; poll < 100; ++poll) {
        ASSERT_EQ(registration->status(), 1);
    }
    systemd.signalActiveState("failed");
    EXPECT_TRUE(eventually([&] { return registration->status() == 0; }));
    EXPECT_FALSE(std::filesystem::exists(ran)) << "systemctl ran";
}

TEST(SystemdDaemonRegistration, RegisteringGoesOnWhileTheUserIsAskedAndReportsSystemdsAnswer) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    StandInSystemd systemd(bus, "disabled", "inactive");
    ASSERT_TRUE(systemd.ok());
    systemd.holdEnabling();
    SystemdDaemonRegistration registration(bus.address());
    ASSERT_TRUE(eventually([&] { return registration.status() == 0; }));

    Collected<std::string> outcomes;
    const auto report = [&](std::exception_ptr failure) {
        outcomes.add(failureOf(failure));
    };
    registration.registerDaemon(report);
    ASSERT_TRUE(eventually([&] { return systemd.enablingHeld(); }));
    EXPECT_EQ(outcomes.size(), 0u);
    EXPECT_EQ(registration.status(), 0) << "the state is still there to read while the user decides";
    systemd.answerEnabling();
    ASSERT_TRUE(outcomes.waitFor(1));
    EXPECT_EQ(outcomes.values()[0], "no error");
    EXPECT_EQ(registration.status(), 1);

    registration.unregisterDaemon(report);
    ASSERT_TRUE(outcomes.waitFor(2));
    EXPECT_EQ(outcomes.values()[1], "no error");
    EXPECT_EQ(registration.status(), 0);
    const std::string socket = "com.orvalith.quorvane.helper.socket";
    const std::string service = "com.orvalith.quorvane.helper.service";
    EXPECT_EQ(systemd.calls(), (std::vector<std::string>{
                                   "EnableUnitFiles " + socket, "Reload", "StartUnit " + socket + " replace",
                                   "DisableUnitFiles " + socket + " " + service, "Reload",
                                   "StopUnit " + socket + " replace", "StopUnit " + service + " replace"}));

    systemd.refuse("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
                   "Interactive authentication required.");
    registration.registerDaemon(report);
    ASSERT_TRUE(outcomes.waitFor(3));
    EXPECT_THAT(outcomes.values()[2], ::testing::HasSubstr("Start your desktop's polkit agent"));
    EXPECT_EQ(registration.status(), 0);
    systemd.refuse("org.freedesktop.DBus.Error.AccessDenied", "Access denied.");
    registration.registerDaemon(report);
    ASSERT_TRUE(outcomes.waitFor(4));
    EXPECT_THAT(outcomes.values()[3], ::testing::StartsWith("You are not allowed to start the helper."));
}

// Every call is a polkit question: only what the socket lacks is asked, and a masked socket is left
// to the administrator with the command that lifts the mask.
TEST(SystemdDaemonRegistration, RegisteringAsksOnlyForWhatIsMissing) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    const std::string socket = "com.orvalith.quorvane.helper.socket";
    for (const auto& [fileState, calls] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"enabled", {"StartUnit " + socket + " replace"}}, {"masked", {}}}) {
        StandInSystemd systemd(bus, fileState, "inactive");
        ASSERT_TRUE(systemd.ok());
        SystemdDaemonRegistration registration(bus.address());
        Collected<std::string> outcomes;
        registration.registerDaemon([&](std::exception_ptr failure) { outcomes.add(failureOf(failure)); });
        ASSERT_TRUE(outcomes.waitFor(1));
        EXPECT_EQ(systemd.calls(), calls);
        EXPECT_THAT(
            outcomes.values()[0],
            ::testing::StartsWith(fileState == "masked" ? "An administrator has masked" : "no error"));
        EXPECT_THAT(outcomes.values()[0],
                    ::testing::AnyOf("no error", ::testing::HasSubstr("systemctl unmask")));
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

    SystemdDaemonRegistration unreachable("unix:path=/nonexistent/quorvane-test-bus");
    EXPECT_EQ(unreachable.status(), SystemdDaemonRegistration::unknownStatus);
    std::string reported;
    unreachable.registerDaemon([&](std::exception_ptr failure) { reported = failureOf(failure); });
    EXPECT_THAT(reported, ::testing::StartsWith("Cannot reach systemd: "));
}

TEST(SystemCommand, KeepsEverythingTheProgramPrintedAndItsStatus) {
    const auto result = SystemCommand::run({"sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.output, "out\nerr\n");

    const auto killed = SystemCommand::run({"sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(killed.exitStatus, 128 + SIGTERM);

    const auto missing = SystemCommand::run({"quorvane-no-such-program"});
    EXPECT_EQ(missing.exitStatus, 127);
    EXPECT_THAT(missing.output, HasSubstr("quorvane-no-such-program"));
}

TEST(LocalDaemonRegistration, RecordFileIsTheRegistration) {
    TemporaryDirectory directory;
    LocalDaemonRegistration registration(directory.path() / "state" / "quorvane" / "helper-registration");
    EXPECT_EQ(registration.status(), 0);
    std::string reported = "not called";
    registration.registerDaemon([&](std::exception_ptr failure) { reported = failureOf(failure); });
    EXPECT_EQ(reported, "no error");
    EXPECT_EQ(registration.status(), 1);
    std::ostringstream recorded;
    recorded << std::ifstream(registration.record()).rdbuf();
    EXPECT_EQ(recorded.str(),
              "service=com.orvalith.quorvane.helper\nplist=com.orvalith.quorvane.helper.plist\n");

    for (int time = 0; time < 2; ++time) { // the second finds nothing to remove, and that is fine
        reported = "not called";
        registration.unregisterDaemon([&](std::exception_ptr failure) { reported = failureOf(failure); });
        EXPECT_EQ(reported, "no error");
        EXPECT_EQ(registration.status(), 0);
    }
}

TEST(DaemonRegistrationFactory, SystemdOnlyWhereSystemdRuns) {
    TemporaryDirectory directory;
    EXPECT_TRUE(dynamic_cast<SystemdDaemonRegistration*>(makeDaemonRegistration(directory.path()).get()));
    EXPECT_TRUE(
        dynamic_cast<LocalDaemonRegistration*>(makeDaemonRegistration(directory.path() / "absent").get()));
}

} // namespace
} // namespace quorvane
