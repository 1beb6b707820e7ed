#include "Platform/ControlAuthorization.hpp"
#include "Platform/FileDescriptor.hpp"
#include "Platform/FramedSocketClient.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/SocketFrame.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/Eventually.hpp"
#include "Support/FakeProcessTable.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TemporaryDirectory.hpp"
#include "Support/UnixSocketAddress.hpp"
#include "XPC/HelperMessage.hpp"
#include "XPC/HelperReply.hpp"
#include "XPC/HelperXPCError.hpp"

#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool isThisProcess(const PeerProcess& peer) {
    return peer.pid() == ::getpid();
}

// Moved by the test while the daemon's threads read it.
class SharedClock final : public Clock {
public:
    std::int64_t nowMilliseconds() const override { return now_.load(); }
    void sleepFor(std::int64_t milliseconds) override { now_ += milliseconds; }
    void advance(std::chrono::milliseconds by) { now_ += by.count(); }

private:
    std::atomic<std::int64_t> now_{0};
};

// Whoever is admitted may control unless a test says otherwise.
struct FixedAuthorization final : ControlAuthorization {
    explicit FixedAuthorization(bool allowed) : allowed(allowed) {}
    bool mayControl(const PeerProcess&) override { return allowed; }
    bool allowed;
};

// A daemon in this process, over an in-process simulated Mac with quick latches, serving a socket in
// a temporary folder; this test process is the only authorized client unless a test says otherwise.
class HelperDaemonTest : public ::testing::Test {
protected:
    HelperDaemonTest() : firmware(quickProfile(), SteadyClock::shared()) {
        const auto directory = folder.path();
        options.socketPath = (directory / "helper.sock").string();
        options.enginePaths.controlLock = directory / "fan-control.lock";
        options.enginePaths.controlLockOwnerUID = std::nullopt;
        options.enginePaths.capabilityMarker = directory / "helper-capability-v1";
        options.makeSMCTransport = [this] {
            return firmware.makeUserClient();
        };
        options.isAuthorizedClient = isThisProcess;
        options.makeControlAuthorization = [this] {
            return std::make_unique<FixedAuthorization>(mayControl);
        };
    }
    ~HelperDaemonTest() override {
        if (daemon) {
            stop();
        }
    }

    static SMCProfile quickProfile() {
        auto profile = *SMCProfiles::named("Mac15,11");
        profile.fanTimings.ftstLatchMilliseconds = 50;
        profile.fanTimings.modeUnlockMilliseconds = 100;
        profile.fanTimings.modeApplyMilliseconds = 20;
        profile.fanTimings.releaseMilliseconds = 50;
        return profile;
    }

    void start() {
        daemon = std::make_unique<HelperDaemon>(options);
        server = std::thread([this] { daemon->run(); });
    }
    void stop() {
        daemon->stop();
        server.join();
        daemon.reset();
    }

    // Starts with the first `stalling` peer checks stalled until `release` (as on a peer whose
    // executable lies on a hung mount), each on a connection returned; later checks admit this process.
    std::vector<std::unique_ptr<FramedSocketClient>> startWithStalledChecks(int stalling) {
        options.isAuthorizedClient = [entered = entered, released = released,
                                      stalling](const PeerProcess& peer) {
            if (++*entered <= stalling) {
                released.wait();
                return false;
            }
            return isThisProcess(peer);
        };
        start();
        std::vector<std::unique_ptr<FramedSocketClient>> stalled;
        for (int i = 0; i < stalling; ++i) {
            stalled.push_back(client());
        }
        EXPECT_TRUE(testing::eventually([&] { return *entered >= stalling; }));
        return stalled;
    }

    std::unique_ptr<FramedSocketClient> client(std::chrono::milliseconds timeout = 15s) {
        auto connection =
            std::make_unique<FramedSocketClient>(options.socketPath, timeout, maxHelperMessageSize);
        EXPECT_TRUE(connection->connect());
        return connection;
    }

    static std::vector<std::uint8_t> request(HelperSelector selector, std::string session = "",
                                             std::int64_t fan = 0, bool manual = false) {
        return encodeHelperMessage(HelperRequest{7, selector, std::move(session), fan, manual, 0}.toJSON());
    }

    static std::optional<HelperResponse> call(FramedSocketClient& connection, HelperSelector selector,
                                              std::string session = "", std::int64_t fan = 0,
                                              bool manual = false) {
        const auto answer = connection.request(request(selector, std::move(session), fan, manual));
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
    bool mayControl = true;
    testing::TemporaryDirectory folder;
    HelperDaemonOptions options;
    std::unique_ptr<HelperDaemon> daemon;
    std::thread server;
    // Shared with checks that may outlive the daemon.
    std::shared_ptr<std::atomic<int>> entered = std::make_shared<std::atomic<int>>(0);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
};

// Refused clients exchange nothing, and a flood of them writes one line per interval with a count.
TEST_F(HelperDaemonTest, RefusedClientsExchangeNothingAndAreLoggedOncePerInterval) {
    SharedClock clock;
    options.clock = &clock;
    options.isAuthorizedClient = [](const PeerProcess&) {
        return false;
    };
    testing::LogCapture log;
    start();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(call(*client(), HelperSelector::status), std::nullopt);
    }
    clock.advance(options.refusalLogInterval);
    EXPECT_EQ(call(*client(), HelperSelector::status), std::nullopt);
    stop();
    const auto lines = log.messagesContaining("refused connection from pid");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("(4 more refused since the last report)"), std::string::npos) << lines[1];
}

// Without a handler in place before start-up, the hangup would end this very process.
TEST_F(HelperDaemonTest, AHangupDuringStartUpEndsTheDaemonCleanly) {
    options.makeSMCTransport = [this] {
        ::raise(SIGHUP); // as the daemon sets up
        return firmware.makeUserClient();
    };
    HelperDaemon hungUp(options);
    EXPECT_EQ(hungUp.run(), 0);
}

TEST_F(HelperDaemonTest, GarbageClosesOnlyThatConnection) {
    start();
    auto connection = client();
    EXPECT_EQ(call(*connection, HelperSelector::heartbeat, "nobody").value().id, 7u);
    const std::string garbage = R"({"id":1,"selector":"writeKey:","arguments":[]})";
    EXPECT_EQ(client()->request(std::vector<std::uint8_t>(garbage.begin(), garbage.end())), std::nullopt);
    EXPECT_TRUE(status(*connection));
}

TEST_F(HelperDaemonTest, AClientWhoMayNotControlReadsButOpensNoSession) {
    mayControl = false;
    start();
    auto connection = client();
    EXPECT_TRUE(status(*connection));
    const auto refused = call(*connection, HelperSelector::beginSession, "S");
    ASSERT_TRUE(refused && refused->error);
    EXPECT_EQ(refused->error->code(), 7);
    EXPECT_STREQ(HelperXPCError::readable(*refused->error).what(),
                 "Only the person at this Mac's active desktop session can control its fans.");
}

TEST_F(HelperDaemonTest, LosingTheSessionConnectionHandsTheFansBack) {
    start();
    auto owner = client();
    ASSERT_TRUE(call(*owner, HelperSelector::beginSession, "S")->reply);
    ASSERT_TRUE(call(*owner, HelperSelector::setFanMode, "S", 0, true)->reply);
    auto observer = client();
    EXPECT_EQ(status(*observer)->fans[0].mode, 1);

    owner->disconnect();
    EXPECT_TRUE(testing::eventually([&] { return status(*observer)->fans[0].mode == 0; }, 10s));
}

TEST_F(HelperDaemonTest, APeerThatTakesLongToCheckHoldsUpNoOtherConnection) {
    const auto slow = startWithStalledChecks(1);
    EXPECT_TRUE(status(*client()));
    release.set_value();
}

// A silent connection holds one of the two places until the idle timeout closes it.
TEST_F(HelperDaemonTest, ConnectionsAreCappedAndSilentOnesClosed) {
    options.maxConnections = 2;
    options.idleTimeout = 1s;
    start();
    FileDescriptor silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = testing::unixSocketAddress(options.socketPath);
    ASSERT_EQ(::connect(silent.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    auto talking = client();
    ASSERT_TRUE(status(*talking));
    EXPECT_EQ(status(*client()), std::nullopt);

    // The silent peer sees its connection end (a read returns end of file, not its 10 s timeout),
    // and its place is free again.
    timeval wait{10, 0};
    ::setsockopt(silent.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::uint8_t byte = 0;
    EXPECT_EQ(::recv(silent.get(), &byte, 1, 0), 0);
    EXPECT_TRUE(testing::eventually([&] { return status(*client()).has_value(); }));
}

// Both checking threads stall for good; a stop still hands the fans back and ends the daemon.
TEST_F(HelperDaemonTest, ChecksThatNeverEndHoldUpNoExit) {
    const auto stalled = startWithStalledChecks(HelperDaemon::checkingThreads);
    auto stopped = std::async(std::launch::async, [this] { stop(); });
    EXPECT_EQ(stopped.wait_for(30s), std::future_status::ready);
    release.set_value();
}

// While both checking threads stall, a connection waiting behind them gives up its place at its
// deadline, so the app's next connection is let in.
TEST_F(HelperDaemonTest, AConnectionQueuedPastItsDeadlineFreesItsPlace) {
    SharedClock clock;
    options.clock = &clock;
    options.maxConnections = 3;
    const auto stalled = startWithStalledChecks(HelperDaemon::checkingThreads);
    auto queued = client();
    // Turned away at the cap, which also tells that the queued one has been accepted.
    EXPECT_EQ(call(*client(), HelperSelector::status), std::nullopt);
    clock.advance(options.checkDeadline);
    auto newcomer = client();
    release.set_value();
    EXPECT_TRUE(status(*newcomer));
    EXPECT_EQ(call(*queued, HelperSelector::status), std::nullopt);
}

// The admitted process then execs another program, which inherits the connection and calls; the
// program exits with the number of reply bytes it read.
TEST_F(HelperDaemonTest, AConnectionWhoseProcessExecsAnotherProgramIsClosed) {
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    std::atomic<pid_t> child{0};
    std::atomic<bool> admitted{false};
    options.isAuthorizedClient = [&](const PeerProcess& peer) {
        return admitted = peer.pid() == child.load();
    };
    start();
    // A status frame in bash's printf notation.
    std::string script = "printf '";
    for (const std::uint8_t byte : SocketFrame::encode(request(HelperSelector::status))) {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%02x", byte);
        script += text;
    }
    script += "' >&3; exit $(head -c 4 <&3 | wc -c)";
    const auto address = testing::unixSocketAddress(options.socketPath);

    const pid_t forked = ::fork();
    if (forked == 0) {
        char signal;
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::read(go[0], &signal, 1);
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::read(go[0], &signal, 1);
        ::dup2(socket, 3);
        ::execl("/bin/bash", "bash", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(forked, 0);
    child = forked;
    ASSERT_EQ(::write(go[1], "c", 1), 1);
    EXPECT_TRUE(testing::eventually([&] { return admitted.load(); }));
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    int status = 0;
    ::waitpid(forked, &status, 0);
    ::close(go[0]);
    ::close(go[1]);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the exec'd program was answered";
}

} // namespace
} // namespace quorvane
