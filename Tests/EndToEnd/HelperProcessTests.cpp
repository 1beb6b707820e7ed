// The helper daemon as a real root process beside a running simulated Mac, driven by a scripted
// client installed as the app. Each wait is bounded; the bounds are what the helper promises.
#include "ProcessFixture.hpp"

namespace quorvane {
namespace {

using namespace quorvane::testing;

class HelperProcessTest : public ProcessFixture {
protected:
    HelperProcessTest() : ProcessFixture(HELPER_CALL_BINARY, "Mac15,11") {}
};

// A killed helper leaves the fans to the next start; a silent client loses them within its lease (whose
// timing is pinned on the virtual clock); a terminated helper hands them back itself.
TEST_F(HelperProcessTest, ACrashedHelperIsCleanedUpByTheNextStartASilentClientIsRevertedAndSIGTERMHandsBack) {
    startHelper();
    auto owner = takeFanZero();
    helper->signal(SIGKILL);
    ASSERT_TRUE(helper->wait(10s));
    EXPECT_TRUE(manual(0)) << "a crash leaves the fans as they were";
    startHelper();
    EXPECT_TRUE(handedBack()) << machine().dump();

    owner = takeFanZero();
    EXPECT_TRUE(eventually([&] { return handedBack(); }, 30s)) << machine().dump();

    owner = takeFanZero();
    quit(*helper);
    EXPECT_TRUE(handedBack()) << machine().dump();
}

TEST_F(HelperProcessTest, OnlyThePinnedAppMayTalk) {
    startHelper();
    fs::copy_file(HELPER_CALL_BINARY, directory / "helper-call");
    auto renamed = client({"status"}, directory / "helper-call");
    EXPECT_EQ(renamed->wait(10s), 3);
    EXPECT_EQ(renamed->output(), "closed\n");

    fs::create_directories(directory / "other");
    fs::copy_file(HELPER_CALL_BINARY, directory / "other" / "Quorvane");
    std::ofstream(directory / "other" / "Quorvane", std::ios::app) << "tampered";
    auto tampered = client({"status"}, directory / "other" / "Quorvane");
    EXPECT_EQ(tampered->wait(10s), 3);

    auto pinned = client({"status"});
    EXPECT_EQ(pinned->wait(10s), 0);
    EXPECT_NE(pinned->output().find("\"protocolVersion\":1"), std::string::npos) << pinned->output();
}

TEST_F(HelperProcessTest, RefusesToStartWithoutRoot) {
    ChildProcess unprivileged(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", (directory / "bin" / "OrvalithHelper").string()},
        environment, directory / "unprivileged.log");
    EXPECT_EQ(unprivileged.wait(10s), 1);
    EXPECT_EQ(unprivileged.output(), "OrvalithHelper: Fan preflight is abnormal: helper must run as root\n");
}

} // namespace
} // namespace quorvane
