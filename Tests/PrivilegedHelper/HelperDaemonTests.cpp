#include "Platform/FileDescriptor.hpp"
#include "Platform/FramedSocketClient.hpp"
#include "Platform/PeerProcess.hpp"
#include "Platform/SocketFrame.hpp"
#include "PrivilegedHelper/HelperDaemon.hpp"
#include "Simulator/SMCProfiles.hpp"
#include "Simulator/SimulatedAppleSMC.hpp"
#include "Support/FakeProcessTable.hpp"
#include "XPC/HelperMessage.hpp"
#include "XPC/HelperReply.hpp"

#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
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

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

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
        options.socketPath = (directory / "helper.sock").string();
        options.enginePaths.controlLock = directory / "fan-control.lock";
        options.enginePaths.controlLockOwnerUID = std::nullopt;
        options.enginePaths.capabilityMarker = directory / "helper-capability-v1";
        options.makeSMCTransport = [this] {
            return firmware.makeUserClient();
        };
        options.isAuthorizedClient = isThisProcess;
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

    void start() {
        daemon = std::make_unique<HelperDaemon>(options);
        server = std::thread([this] { daemon->run(); });
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
    fs::path directory;
    HelperDaemonOptions options;
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
    options.isAuthorizedClient = [](const PeerProcess&) {
        return false;
    };
    start();
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

TEST_F(HelperDaemonTest, APeerThatTakesLongToCheckHoldsUpNoOtherConnection) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> checks{0};
    options.isAuthorizedClient = [&checks, released](const PeerProcess& peer) {
        if (checks++ == 0) {
            released.wait();
        }
        return isThisProcess(peer);
    };
    start();
    auto slow = client();
    ASSERT_TRUE(slow->isConnected());
    while (checks.load() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    auto quick = client();
    EXPECT_TRUE(status(*quick));
    release.set_value();
    EXPECT_TRUE(status(*slow));
}

TEST_F(HelperDaemonTest, ConnectionsBeyondTheCapAreClosedUntilOneEnds) {
    options.maxConnections = 2;
    start();
    auto first = client();
    auto second = client();
    ASSERT_TRUE(status(*first) && status(*second));
    EXPECT_EQ(status(*client()), std::nullopt);

    first->disconnect();
    bool served = false;
    for (int attempt = 0; attempt < 200 && !served; ++attempt) {
        served = status(*client()).has_value();
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(served);
}

TEST_F(HelperDaemonTest, AConnectionThatSendsNothingIsClosed) {
    options.idleTimeout = 200ms;
    start();
    auto talking = client();
    FileDescriptor silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto address = addressOf(options.socketPath);
    ASSERT_EQ(::connect(silent.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(status(*talking));
        std::this_thread::sleep_for(100ms);
    }
    // The silent peer sees its connection end: a read returns end of file, not its 10 s timeout.
    timeval wait{10, 0};
    ::setsockopt(silent.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::uint8_t byte = 0;
    EXPECT_EQ(::recv(silent.get(), &byte, 1, 0), 0);
}

// The admitted process goes on to exec another program that inherits the connection.
TEST_F(HelperDaemonTest, AConnectionWhoseProcessExecsAnotherProgramIsClosed) {
    int go[2];
    int report[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(report), 0);
    std::atomic<pid_t> child{0};
    options.isAuthorizedClient = [&child](const PeerProcess& peer) {
        return peer.pid() == child.load();
    };
    start();
    const auto frame = SocketFrame::encode(request(HelperSelector::status));
    const auto address = addressOf(options.socketPath);
    // Bytes of a status frame in bash's printf notation, sent by the program exec'd in the child.
    std::string escaped;
    for (const std::uint8_t byte : frame) {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%02x", byte);
        escaped += text;
    }
    const std::string script = "printf '" + escaped + "' >&3; head -c 4 <&3 | wc -c >&4";

    const pid_t forked = ::fork();
    if (forked == 0) {
        char ignored;
        ::close(go[1]);
        ::read(go[0], &ignored, 1);
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::dup2(socket, 3);
        ::dup2(report[1], 4);
        // Admitted as itself: one answered frame, read to its end.
        SocketFrame::Header header{};
        static std::uint8_t reply[maxHelperMessageSize];
        bool answered = ::write(3, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size()) &&
                        ::recv(3, header.data(), header.size(), MSG_WAITALL) == 4;
        const auto size = SocketFrame::payloadSize(header, maxHelperMessageSize);
        answered = answered && size && ::recv(3, reply, *size, MSG_WAITALL) == static_cast<ssize_t>(*size);
        ::write(4, answered ? "served " : "refused ", answered ? 7 : 8);
        ::execl("/bin/bash", "bash", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(forked, 0);
    child = forked;
    ::close(report[1]);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    std::string output;
    char buffer[64];
    for (ssize_t count; (count = ::read(report[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    ::waitpid(forked, &status, 0);
    ::close(report[0]);
    ::close(go[0]);
    ::close(go[1]);
    // After the exec the answer is the end of the connection: no byte of a reply.
    EXPECT_EQ(output, "served 0\n");
}

// Relays to the simulated Mac but raises a signal as the SMC opens, during the daemon's start-up.
class SignalAtOpen final : public SMCUserClient {
public:
    SignalAtOpen(std::unique_ptr<SMCUserClient> inner, int signal)
        : inner_(std::move(inner)), signal_(signal) {}
    bool serviceExists() override { return inner_->serviceExists(); }
    std::uint32_t open() override {
        ::raise(signal_);
        return inner_->open();
    }
    void close() override { inner_->close(); }
    std::uint32_t callStructMethod(std::uint32_t selector, const SMCParamStruct& input,
                                   SMCParamStruct& output, std::size_t& outputSize) override {
        return inner_->callStructMethod(selector, input, output, outputSize);
    }

private:
    std::unique_ptr<SMCUserClient> inner_;
    int signal_;
};

// Without a handler in place before start-up, the hangup would end this very process.
TEST_F(HelperDaemonTest, AHangupDuringStartUpEndsTheDaemonCleanly) {
    options.makeSMCTransport = [this] {
        return std::make_unique<SignalAtOpen>(firmware.makeUserClient(), SIGHUP);
    };
    HelperDaemon hungUp(options);
    EXPECT_EQ(hungUp.run(), 0);
}

} // namespace
} // namespace quorvane
