#include "Platform/PeerProcess.hpp"
#include "Platform/PolkitControlAuthorization.hpp"
#include "Support/StandInPolkit.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvane {
namespace {

using testing::PrivateBus;
using testing::StandInPolkit;

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

} // namespace
} // namespace quorvane
