#include "App/HelperRegistrationRefresh.hpp"
#include "Support/FakeDaemonRegistration.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace quorvane::testing {
namespace {

TEST(HelperRegistrationRefresh, reportsEveryOutcomeAndRetriesRegistrationTwoSecondsApart) {
    FakeDaemonRegistration registration;
    VirtualClock clock;
    std::ostringstream output;
    std::ostringstream errors;
    registration.registerFailure = "Unit file not found";
    EXPECT_EQ(refreshHelperRegistration(registration, output, errors, clock), 1);
    EXPECT_EQ(errors.str(), "Quorvane helper register failed (attempt 1): Unit file not found\n"
                            "Quorvane helper register failed (attempt 2): Unit file not found\n"
                            "Quorvane helper register failed (attempt 3): Unit file not found\n");
    EXPECT_EQ(output.str(), "");
    EXPECT_EQ(registration.registerCalls, 3);
    EXPECT_EQ(clock.sleepCount(), 2);
    EXPECT_EQ(clock.totalSlept(), 4000);

    registration.registerFailure.reset();
    registration.statusAfterRegister = 2;
    errors.str("");
    EXPECT_EQ(refreshHelperRegistration(registration, output, errors, clock), 0);
    EXPECT_EQ(output.str(), "Quorvane helper registration refreshed: 2\n");
    EXPECT_EQ(errors.str(), "");

    registration.unregisterFailure = "Access denied";
    output.str("");
    EXPECT_EQ(refreshHelperRegistration(registration, output, errors, clock), 1);
    EXPECT_EQ(errors.str(), "Quorvane helper unregister failed: Access denied\n");
    EXPECT_EQ(registration.registerCalls, 4) << "no registration after a failed unregister";
}

} // namespace
} // namespace quorvane::testing
