#include "Platform/FileDescriptor.hpp"
#include "Platform/SocketError.hpp"
#include "Platform/UnixSocketListener.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace quorvane {
namespace {

using testing::TemporaryDirectory;

TEST(UnixSocketListenerTest, ReplacesADeadSocketButNotALiveOneOrAFile) {
    TemporaryDirectory directory;
    const auto path = (directory.path() / "service.sock").string();
    asio::io_context io;
    {
        // A socket file whose owner died without removing it.
        asio::local::stream_protocol::acceptor dead(io, asio::local::stream_protocol::endpoint(path));
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    {
        UnixSocketListener listener(io, path, 0660);
        EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0660));
        EXPECT_THAT([&] { UnixSocketListener second(io, path); },
                    ::testing::ThrowsMessage<SocketError>(
                        ::testing::StrEq("Another process is already serving " + path)));
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));

    std::ofstream(path) << "not a socket";
    EXPECT_THAT(
        [&] { UnixSocketListener listener(io, path); },
        ::testing::ThrowsMessage<SocketError>(::testing::StrEq(path + " exists and is not a socket")));
}

// Out of descriptors, accepting pauses instead of failing again and again on the waiting connection.
TEST(UnixSocketListenerTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
    TemporaryDirectory directory;
    const auto path = (directory.path() / "service.sock").string();
    asio::io_context io;
    UnixSocketListener listener(io, path);
    int accepted = 0;
    listener.start([&accepted](UnixSocketListener::Socket) { ++accepted; });
    asio::local::stream_protocol::socket client(io);
    client.connect(asio::local::stream_protocol::endpoint(path));

    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit lowered{64, limit.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    std::vector<FileDescriptor> filler;
    for (int descriptor; (descriptor = ::dup(STDERR_FILENO)) >= 0;) {
        filler.emplace_back(descriptor);
    }
    int handlers = 0;
    while (handlers < 1000 && io.poll_one() > 0) {
        ++handlers;
    }
    filler.clear();
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_LT(handlers, 1000) << "every failed accept was retried at once";
    EXPECT_EQ(accepted, 0);

    // Once descriptors are free again, the waiting connection is taken.
    for (int round = 0; round < 100 && accepted == 0; ++round) {
        io.run_one_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(accepted, 1);
}

} // namespace
} // namespace quorvane
