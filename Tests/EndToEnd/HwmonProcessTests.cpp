// The whole system over a macsmc_hwmon device: app and helper find the simulated Mac only through the
// folders `quorvane-sim serve --hwmon` keeps, as on a real Mac running Linux. Bounded waits.
#include "ProcessFixture.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

class HwmonProcessTest : public ProcessFixture {
protected:
    HwmonProcessTest() : ProcessFixture(QUORVANE_APP_BINARY, "Mac15,11", true) {}
};

// App and helper killed mid-control leave the driver's fans manual. A helper started beside mbpfan
// leaves them to it; once it has gone, they go back and the app's next session takes control.
TEST_F(HwmonProcessTest, ARecoverySkippedForACompetitorIsDoneOnceItHasGone) {
    startHelper();
    auto owner = app();
    ASSERT_TRUE(eventually([&] { return bothManual(); }, 60s)) << owner->output() << helper->output();
    owner->signal(SIGKILL);
    helper->signal(SIGKILL);
    ASSERT_TRUE(owner->wait(5s) && helper->wait(5s));
    ASSERT_TRUE(bothManual()) << "the driver keeps a fan manual until told otherwise";
    fs::copy_file("/bin/sleep", directory / "mbpfan");
    auto competitor = std::make_unique<ChildProcess>(directory / "mbpfan", std::vector<std::string>{"600"},
                                                     environment, directory / "mbpfan.log");
    startHelper();
    ASSERT_TRUE(eventually(
        [&] { return helper->output().find("startup recovery skipped") != std::string::npos; }, 10s))
        << helper->output();
    EXPECT_TRUE(bothManual()) << "the fans are mbpfan's while it runs";
    competitor.reset();
    auto quorvane = app({});
    ASSERT_TRUE(eventually(
        [&] { return helper->output().find("control session started") != std::string::npos; }, 30s))
        << quorvane->output() << helper->output();
    for (const auto& poll : polls(*quorvane)) {
        EXPECT_TRUE(poll["error"].is_null()) << poll.dump();
    }
}

} // namespace
} // namespace quorvane
