#include "Platform/FramedConnection.hpp"
#include "Platform/FramedSocketClient.hpp"
#include "Platform/SocketHelperTransport.hpp"
#include "Platform/UnixSocketListener.hpp"
#include "Support/Collected.hpp"
#include "Support/TemporaryDirectory.hpp"
#include "XPC/HelperMessage.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/un.h>
#include <thread>

namespace quorvane {
namespace {

using ::testing::AnyOf;
using testing::Collected;
// What one call came back with: nothing for a response without error.
using Outcome = std::optional<XPCError>;

// A helper in miniature on a thread of its own: one response frame per request frame, echoing the
// request's session, and hanging up on the session "hang up".
class TestHelperServer {
public:
    explicit TestHelperServer(const std::string& path)
        : work_(asio::make_work_guard(io_)), listener_(io_, path) {
        listener_.start([this](UnixSocketListener::Socket socket) {
            ++accepted;
            connections_.push_back(FramedConnection::start(
                std::move(socket), maxHelperMessageSize,
                [](std::span<const std::uint8_t> payload) -> std::optional<FramedConnection::Payload> {
                    const auto request = HelperRequest::fromJSON(decodeHelperMessage(payload));
                    if (request.sessionID == "hang up") {
                        return std::nullopt;
                    }
                    const nlohmann::json reply{{"echo", request.sessionID}};
                    return encodeHelperMessage(HelperResponse{request.id, reply, std::nullopt}.toJSON());
                },
                [this] { closed.add(true); }));
        });
        thread_ = std::thread([this] { io_.run(); });
    }
    ~TestHelperServer() {
        asio::post(io_, [this] {
            listener_.close();
            for (const auto& connection : connections_) {
                if (auto open = connection.lock()) {
                    open->close();
                }
            }
        });
        work_.reset();
        thread_.join();
    }

    std::atomic<int> accepted{0};
    Collected<bool> closed;

private:
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    UnixSocketListener listener_;
    std::vector<std::weak_ptr<FramedConnection>> connections_;
    std::thread thread_;
};

// Client sockets (unnamed ones: accepted ones carry the listener's name) of this process that a
// program it starts would inherit.
int inheritableClientSockets() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int descriptor = std::stoi(entry.path().filename().string());
        sockaddr_un address{};
        socklen_t length = sizeof address;
        const int flags = ::fcntl(descriptor, F_GETFD);
        count += ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                 address.sun_family == AF_UNIX && length == sizeof(sa_family_t) && flags >= 0 &&
                 (flags & FD_CLOEXEC) == 0;
    }
    return count;
}

class SocketHelperTransportTest : public ::testing::Test {
protected:
    void send(HelperTransport& transport, std::string session = "") {
        transport.send(
            HelperRequest{0, HelperSelector::heartbeat, std::move(session)},
            [this](const HelperResponse& response) { outcomes.add(response.error); },
            [this](const XPCError& error) { outcomes.add(error); });
    }
    std::function<void()> countInvalidation() {
        return [this] {
            invalidations.add(true);
        };
    }

    testing::TemporaryDirectory socketFolder;
    const std::string path = (socketFolder.path() / "helper.sock").string();
    Collected<Outcome> outcomes;
    Collected<bool> invalidations;
};

// A program the app starts must not inherit its admitted connection, which would outlive a crashed app
// and keep its session from ending.
TEST_F(SocketHelperTransportTest, ClientSocketsAreNotInheritedByProgramsTheAppStarts) {
    TestHelperServer server(path);
    const int before = inheritableClientSockets();
    SocketHelperTransport transport(path);
    send(transport);
    ASSERT_TRUE(outcomes.waitFor(1));
    EXPECT_EQ(outcomes.values()[0], std::nullopt);
    FramedSocketClient client(path, std::chrono::seconds(5), maxHelperMessageSize);
    ASSERT_TRUE(client.connect());
    EXPECT_EQ(inheritableClientSockets(), before);
}

// Invalidating closes the socket: the helper sees it close, as when the app dies, and ends its session.
TEST_F(SocketHelperTransportTest, ConcurrentCallersEachGetTheirOwnAnswerUntilInvalidatingClosesTheSocket) {
    TestHelperServer server(path);
    SocketHelperTransport transport(path);
    Collected<bool> matched;
    const auto caller = [&](int thread) {
        for (int i = 0; i < 50; ++i) {
            const auto session = std::to_string(thread) + "-" + std::to_string(i);
            transport.send(
                HelperRequest{0, HelperSelector::heartbeat, session},
                [&, session](const HelperResponse& response) {
                    matched.add(response.reply && (*response.reply)["echo"] == session);
                },
                [&](const XPCError&) { matched.add(false); });
        }
    };
    std::thread first(caller, 0), second(caller, 1);
    first.join();
    second.join();
    ASSERT_TRUE(matched.waitFor(100));
    const auto results = matched.values();
    EXPECT_EQ(std::count(results.begin(), results.end(), true), 100);
    EXPECT_EQ(server.accepted, 1);
    transport.invalidate();
    EXPECT_TRUE(server.closed.waitFor(1));
}

TEST_F(SocketHelperTransportTest, HelperHangingUpAnswersEveryOutstandingCallAndInvalidatesOnce) {
    TestHelperServer server(path);
    SocketHelperTransport transport(path);
    transport.setInvalidationHandler(countInvalidation());
    send(transport);
    ASSERT_TRUE(outcomes.waitFor(1));
    send(transport, "hang up");
    send(transport);
    ASSERT_TRUE(outcomes.waitFor(3) && invalidations.waitFor(1));
    send(transport);
    ASSERT_TRUE(outcomes.waitFor(4));
    const auto seen = outcomes.values();
    EXPECT_EQ(seen[0], std::nullopt);
    ASSERT_TRUE(seen[1] && seen[2] && seen[3]);
    EXPECT_EQ(seen[1]->code(), helperConnectionInterrupted) << "the call the helper hung up on";
    // A call that reaches the transport after the hang-up is refused rather than sent.
    EXPECT_THAT(seen[2]->code(), AnyOf(helperConnectionInterrupted, helperConnectionInvalid));
    EXPECT_EQ(seen[3]->code(), helperConnectionInvalid);
    EXPECT_EQ(seen[3]->domain(), helperConnectionErrorDomain);
    EXPECT_EQ(invalidations.size(), 1u);
    EXPECT_EQ(server.accepted, 1) << "a broken connection stays broken";
}

TEST_F(SocketHelperTransportTest, NothingListeningFailsTheCallAsInvalid) {
    SocketHelperTransport transport(path);
    transport.setInvalidationHandler(countInvalidation());
    send(transport);
    ASSERT_TRUE(outcomes.waitFor(1) && invalidations.waitFor(1));
    const auto error = outcomes.values()[0];
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), helperConnectionInvalid);
    EXPECT_THAT(error->debugDescription().value_or(""), ::testing::HasSubstr(path));
}

} // namespace
} // namespace quorvane
