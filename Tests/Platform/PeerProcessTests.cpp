#include "Platform/PeerProcess.hpp"
#include "Support/TemporaryDirectory.hpp"
#include "Support/UnixSocketAddress.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane {
namespace {

// A child that connects to a socket of this process and then waits to be killed.
TEST(PeerProcessTest, APeerThatExitedIsNoLongerTheSameWithOrWithoutAPidfd) {
    testing::TemporaryDirectory directory;
    const auto address = testing::unixSocketAddress((directory.path() / "peer.sock").string());
    FileDescriptor listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening.get(), 1), 0);

    const pid_t child = ::fork();
    if (child == 0) {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    FileDescriptor connection(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const auto peer = PeerProcess::ofSocket(connection.get());
    const auto withoutPidfd = PeerProcess::ofProcess(child, ::getuid(), FileDescriptor());
    const bool sameWhileAlive = peer && withoutPidfd && peer->isUnchanged() && withoutPidfd->isUnchanged();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(peer && withoutPidfd);
    EXPECT_TRUE(sameWhileAlive);
    EXPECT_EQ(peer->pid(), child);
    EXPECT_TRUE(peer->hasPidfd()) << "the kernel offers pidfds since Linux 5.3";
    EXPECT_EQ(peer->executable(), *FileIdentity::of("/proc/self/exe"));

    EXPECT_FALSE(peer->isUnchanged());
    EXPECT_FALSE(withoutPidfd->isUnchanged());
    EXPECT_EQ(PeerProcess::ofSocket(connection.get()), std::nullopt);
}

// The pid is asked only when the kernel lacks SO_PEERPIDFD: after any other failure the peer is gone and
// its pid may be someone else's.
TEST(PeerProcessTest, OnlyAKernelWithoutPeerPidfdsSendsTheCheckToThePid) {
    static int answer = 0;
    for (const auto& [error, opened] : {std::pair{ENOPROTOOPT, true}, {EINVAL, false}, {ESRCH, false}}) {
        answer = -error;
        const auto pidfd = PeerProcess::peerPidfd(-1, ::getpid(), [](int, int*) { return answer; });
        EXPECT_EQ(pidfd && *pidfd, opened) << error;
    }
}

} // namespace
} // namespace quorvane
