#include "Platform/DaemonRegistrationFactory.hpp"
#include "Platform/LocalDaemonRegistration.hpp"
#include "Platform/PlatformServiceError.hpp"
#include "Platform/SystemCommand.hpp"
#include "Platform/SystemdDaemonRegistration.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using ::testing::HasSubstr;
using testing::TemporaryDirectory;

std::string failureOf(std::exception_ptr failure) {
    try {
        if (failure) {
            std::rethrow_exception(failure);
        }
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

// systemctl as the test scripts it: every call is kept and answered with `answer`.
struct ScriptedSystemctl {
    std::vector<std::vector<std::string>> calls;
    SystemCommand::Result answer;

    SystemCommand::Runner runner() {
        return [this](const std::vector<std::string>& arguments) {
            calls.push_back(arguments);
            return answer;
        };
    }
};

TEST(SystemdDaemonRegistration, StatusComesFromTheEnablementOfServiceAndSocket) {
    const std::vector<std::pair<std::string, int>> table{
        {"indirect\nenabled\n", 1},
        {"enabled\ndisabled\n", 1},
        {"indirect\ndisabled\n", 0},
        {"indirect\nmasked\n", 2},
        {"masked-runtime\nenabled\n", 2},
        {"not-found\nnot-found\n", 3},
        {"Failed to get unit file state for com.orvalith.quorvane.helper.service: No such file or "
         "directory\n",
         3},
        {"indirect\nstatic\n", SystemdDaemonRegistration::unknownStatus},
        {"", SystemdDaemonRegistration::unknownStatus},
    };
    for (const auto& [output, status] : table) {
        ScriptedSystemctl systemctl;
        systemctl.answer = {status == 1 ? 0 : 1, output};
        SystemdDaemonRegistration registration(systemctl.runner());
        EXPECT_EQ(registration.status(), status) << output;
        EXPECT_EQ(systemctl.calls.front(),
                  (std::vector<std::string>{"systemctl", "is-enabled", "com.orvalith.quorvane.helper.service",
                                            "com.orvalith.quorvane.helper.socket"}));
    }
}

TEST(SystemdDaemonRegistration, RegisteringEnablesAndStartsTheHelperAndReportsSystemctlsWords) {
    ScriptedSystemctl systemctl;
    SystemdDaemonRegistration registration(systemctl.runner());
    systemctl.answer = {0, "Created symlink /etc/systemd/system/sockets.target.wants/...\n"};
    EXPECT_NO_THROW(registration.registerDaemon());
    EXPECT_EQ(systemctl.calls.back(), (std::vector<std::string>{"systemctl", "enable", "--now",
                                                                "com.orvalith.quorvane.helper.service"}));

    systemctl.answer = {1, "Failed to enable unit: Interactive authentication required.\n"};
    EXPECT_THAT([&] { registration.registerDaemon(); },
                ::testing::ThrowsMessage<PlatformServiceError>(
                    ::testing::StrEq("Failed to enable unit: Interactive authentication required.")));

    systemctl.answer = {4, ""};
    std::string reported;
    registration.unregisterDaemon([&](std::exception_ptr failure) { reported = failureOf(failure); });
    EXPECT_EQ(systemctl.calls.back(), (std::vector<std::string>{"systemctl", "disable", "--now",
                                                                "com.orvalith.quorvane.helper.service"}));
    EXPECT_EQ(reported, "systemctl disable failed with status 4");

    systemctl.answer = {0, ""};
    registration.unregisterDaemon([&](std::exception_ptr failure) { reported = failureOf(failure); });
    EXPECT_EQ(reported, "no error");
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
    registration.registerDaemon();
    EXPECT_EQ(registration.status(), 1);
    std::string first;
    std::getline(std::ifstream(registration.record()) >> std::ws, first);
    EXPECT_EQ(first, "service=com.orvalith.quorvane.helper");

    for (int time = 0; time < 2; ++time) { // the second finds nothing to remove, and that is fine
        std::string reported = "not called";
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
