// The system services the helper and the app ask, polkit and logind, stood in for on a private bus.
#include "Platform/LogindPowerMonitor.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/PolkitControlAuthorization.hpp"
#include "Support/Eventually.hpp"
#include "Support/StandInLogind.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvane {
namespace {

using testing::PrivateBus;

// polkit's authority on a private bus: answers every CheckAuthorization with `authorized` and keeps
// the last question.
class StandInPolkit {
public:
    struct Question {
        std::string subjectKind;
        std::uint32_t pid = 0;
        std::uint64_t startTime = 0;
        bool byPidfd = false;
        std::string action;
        std::uint32_t flags = 0;
    };

    StandInPolkit(const PrivateBus& bus, bool authorized)
        : authorized_(authorized), service_(bus, "org.freedesktop.PolicyKit1") {
        service_.addObject("/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.PolicyKit1.Authority",
                           vtable, this);
        service_.start();
    }

    bool ok() const { return service_.ok(); }
    Question lastQuestion() {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    static int check(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& polkit = *static_cast<StandInPolkit*>(userdata);
        Question question;
        const char* text = nullptr;
        sd_bus_message_enter_container(message, 'r', "sa{sv}");
        sd_bus_message_read(message, "s", &text);
        question.subjectKind = text;
        sd_bus_message_enter_container(message, 'a', "{sv}");
        while (sd_bus_message_enter_container(message, 'e', "sv") > 0 &&
               sd_bus_message_read(message, "s", &text)) {
            const std::string key = text;
            int pidfd = -1;
            if (key == "pid") {
                sd_bus_message_read(message, "v", "u", &question.pid);
            } else if (key == "start-time") {
                sd_bus_message_read(message, "v", "t", &question.startTime);
            } else if (key == "pidfd") {
                question.byPidfd = sd_bus_message_read(message, "v", "h", &pidfd) > 0 && pidfd >= 0;
            } else {
                sd_bus_message_skip(message, "v");
            }
            sd_bus_message_exit_container(message);
        }
        sd_bus_message_exit_container(message);
        sd_bus_message_exit_container(message);
        sd_bus_message_read(message, "s", &text);
        question.action = text;
        sd_bus_message_skip(message, "a{ss}");
        sd_bus_message_read(message, "u", &question.flags);
        {
            std::lock_guard lock(polkit.mutex_);
            polkit.last_ = question;
        }
        return sd_bus_reply_method_return(message, "(bba{ss})", static_cast<int>(polkit.authorized_), 0, 0);
    }

    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("CheckAuthorization", "(sa{sv})sa{ss}us", "(bba{ss})", check,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };

    bool authorized_;
    std::mutex mutex_;
    Question last_;
    testing::BusService service_;
};

// Who may open a session: polkit's answer where it gives one, else root and the local active session.
TEST(PolkitControlAuthorization, PolkitDecidesElseRootAndTheLocalActiveSession) {
    struct Case {
        const char* what;
        std::optional<bool> polkit;
        uid_t uid;
        std::optional<LoginSessionState> session;
        bool admitted;
    };
    const LoginSessionState localActive{true, false};
    const Case cases[] = {
        {"polkit admits a user without a session", true, 1000, std::nullopt, true},
        {"polkit's no stands even for the local active session", false, 1000, localActive, false},
        {"without polkit: root", std::nullopt, 0, std::nullopt, true},
        {"without polkit: the local active session", std::nullopt, 1000, localActive, true},
        {"without polkit: a remote login", std::nullopt, 1000, LoginSessionState{true, true}, false},
        {"without polkit: a session in the background", std::nullopt, 1000, LoginSessionState{false, false},
         false},
        {"without polkit or logind: a user", std::nullopt, 1000, std::nullopt, false},
    };
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    for (const auto& check : cases) {
        std::optional<StandInPolkit> polkit;
        if (check.polkit) {
            polkit.emplace(bus, *check.polkit);
            ASSERT_TRUE(polkit->ok()) << check.what;
        }
        const auto peer = PeerProcess::ofProcess(::getpid(), check.uid, PeerProcess::openPidfd(::getpid()));
        ASSERT_TRUE(peer);
        PolkitControlAuthorization authorization(bus.address(), [&](pid_t) { return check.session; });
        EXPECT_EQ(authorization.mayControl(*peer), check.admitted) << check.what;
        if (polkit) {
            const auto question = polkit->lastQuestion();
            EXPECT_EQ(question.subjectKind, "unix-process");
            EXPECT_EQ(question.pid, static_cast<std::uint32_t>(::getpid()));
            EXPECT_EQ(question.startTime, peer->startTime());
            EXPECT_TRUE(question.byPidfd);
            EXPECT_EQ(question.action, "com.orvalith.quorvane.control-fans");
            EXPECT_EQ(question.flags, 0u) << "never asks the user";
        }
    }
}

TEST(LogindPowerMonitor, SleepWaitsForTheHandBackOfAnActiveSession) {
    testing::PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    EXPECT_EQ(testing::sleepWaitsForTheHandBack(
                  bus,
                  [](const std::string& address) { return std::make_unique<LogindPowerMonitor>(address); },
                  [](auto condition) { return testing::eventually(condition); }),
              std::nullopt);
}

} // namespace
} // namespace quorvane
