#include "Platform/FramedSocketClient.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/FakeProcessTable.hpp"
#include "XPC/HelperMessage.hpp"
#include "XPC/HelperReply.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// A daemon in this process, over an in-process simulated Mac with quick latches, serving a socket in
// a temporary folder; this test process is the only authorized client unless a test says otherwise.
class HelperDaemonTest : public ::testing::Test {
protected:
    HelperDaemonTest() : firmware(quickProfile(), SteadyClock::shared()) {
        directory =
            fs::temp_directory_path() / ("daemon-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    ~HelperDaemonTest() override {
        if (daemon) {
            daemon->stop();
            server.join();
        }
        fs::remove_all(directory);
    }

    static SMCProfile quickProfile() {
        auto profile = *SMCProfiles::named("Mac15,11");
        profile.fanTimings.ftstLatchMilliseconds = 50;
        profile.fanTimings.modeUnlockMilliseconds = 100;
        profile.fanTimings.modeApplyMilliseconds = 20;
        profile.fanTimings.releaseMilliseconds = 50;
        return profile;
    }

    void start(std::function<bool(pid_t)> authorized = [](pid_t pid) { return pid == ::getpid(); }) {
        HelperDaemonOptions options;
        options.socketPath = (directory / "helper.sock").string();
        options.enginePaths.controlLock = directory / "fan-control.lock";
        options.enginePaths.controlLockOwnerUID = std::nullopt;
        options.enginePaths.capabilityMarker = directory / "helper-capability-v1";
        options.makeSMCTransport = [this] {
            return firmware.makeUserClient();
        };
        options.isAuthorizedClient = std::move(authorized);
        daemon = std::make_unique<HelperDaemon>(std::move(options));
        server = std::thread([this] { daemon->run(); });
    }

    std::unique_ptr<FramedSocketClient> client() {
        auto connection = std::make_unique<FramedSocketClient>(
            (directory / "helper.sock").string(), std::chrono::seconds(15), maxHelperMessageSize);
        EXPECT_TRUE(connection->connect());
        return connection;
    }

    static std::optional<HelperResponse> call(FramedSocketClient& connection, HelperSelector selector,
                                              std::string session = "", std::int64_t fan = 0,
                                              bool manual = false) {
        const auto payload =
            encodeHelperMessage(HelperRequest{7, selector, std::move(session), fan, manual, 0}.toJSON());
        const auto answer = connection.request(payload);
        if (!answer) {
            return std::nullopt;
        }
        return HelperResponse::fromJSON(decodeHelperMessage(*answer));
    }

    static std::optional<HelperReply> status(FramedSocketClient& connection) {
        auto response = call(connection, HelperSelector::status);
        return response && response->reply ? HelperReply::fromDictionary(*response->reply) : std::nullopt;
    }

    SimulatedAppleSMC firmware;
    fs::path directory;
    std::unique_ptr<HelperDaemon> daemon;
    std::thread server;
};

TEST_F(HelperDaemonTest, AuthorizedClientIsServedInOrder) {
    start();
    auto connection = client();
    const auto reply = status(*connection);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->fans.size(), 2u);
    EXPECT_EQ(reply->fanTestMode, 0);
    const auto refused = call(*connection, HelperSelector::heartbeat, "nobody");
    ASSERT_TRUE(refused && refused->error);
    EXPECT_EQ(refused->error->code(), 2);
    EXPECT_EQ(refused->id, 7u);
}

TEST_F(HelperDaemonTest, ClientsThatAreNotThePinnedAppCannotExchangeAnything) {
    start([](pid_t) { return false; });
    auto connection = client();
    EXPECT_EQ(call(*connection, HelperSelector::status), std::nullopt);
}

TEST_F(HelperDaemonTest, GarbageClosesOnlyThatConnection) {
    start();
    auto bad = client();
    const std::string garbage = "not a message";
    EXPECT_EQ(bad->request(std::vector<std::uint8_t>(garbage.begin(), garbage.end())), std::nullopt);
    auto unknown = client();
    const std::string selector = R"({"id":1,"selector":"writeKey:","arguments":[]})";
    EXPECT_EQ(unknown->request(std::vector<std::uint8_t>(selector.begin(), selector.end())), std::nullopt);
    auto good = client();
    EXPECT_TRUE(status(*good));
}

TEST_F(HelperDaemonTest, LosingTheSessionConnectionHandsTheFansBack) {
    start();
    auto owner = client();
    ASSERT_TRUE(call(*owner, HelperSelector::beginSession, "S")->reply);
    ASSERT_TRUE(call(*owner, HelperSelector::setFanMode, "S", 0, true)->reply);
    auto observer = client();
    EXPECT_EQ(status(*observer)->fans[0].mode, 1);

    owner->disconnect();
    // Bounded wait for the asynchronous reset; the reply of each status call paces the loop.
    bool automatic = false;
    for (int attempt = 0; attempt < 200 && !automatic; ++attempt) {
        automatic = status(*observer)->fans[0].mode == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(automatic);
}

} // namespace
} // namespace quorvane
