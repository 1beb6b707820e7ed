#include "Platform/SMCSocketProtocol.hpp"
#include "Platform/SocketFrame.hpp"
#include "RunningSimulator.hpp"
#include "SMC/IOKitReturn.hpp"
#include "SMC/SMCError.hpp"
#include "Simulator/SimulatorControlClient.hpp"
#include "Simulator/SimulatorError.hpp"
#include "Support/Eventually.hpp"
#include "Support/UnixSocketAddress.hpp"

#include <cerrno>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane {
namespace {

using testing::eventually;
using testing::RunningSimulator;
using Protocol = SMCSocketProtocol;

const SMCKey ftst = SMCKey::fanTestMode;

std::uint8_t byteOf(IOKitSMCBridge& bridge, SMCKey key) {
    return bridge.readKey(key).asUInt8().value();
}

// One framed structure call, as a client would send it.
std::vector<std::uint8_t> callFrame(std::uint8_t command, std::string_view key, std::uint32_t size,
                                    std::uint8_t value) {
    SMCParamStruct record;
    record.setKey(SMCKey::fromString(key).rawValue);
    record.setCommand(command);
    record.setDataSize(size);
    record.bytes()[0] = value;
    return SocketFrame::encode(
        Protocol::encodeRequest(Protocol::call(SMCUserClient::smcSelector, record, SMCParamStruct::size)));
}

// The child runs only system calls on data prepared before fork(), so it is safe beside the
// server's thread. It exits 0 when its write was refused as not privileged.
[[noreturn]] void unprivilegedChild(const sockaddr_un& address, const std::vector<std::uint8_t>& open,
                                    const std::vector<std::uint8_t>& write) {
    ::alarm(5);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::getuid() == 0) {
        ::_exit(10);
    }
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (descriptor < 0 ||
        ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::_exit(11);
    }
    std::uint8_t reply[SocketFrame::headerSize + 89];
    const auto exchange = [&](const std::vector<std::uint8_t>& request, std::size_t replySize) {
        if (::write(descriptor, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
            ::recv(descriptor, reply, replySize, MSG_WAITALL) != static_cast<ssize_t>(replySize)) {
            ::_exit(12);
        }
        return static_cast<std::uint32_t>(reply[5]) | static_cast<std::uint32_t>(reply[6]) << 8 |
               static_cast<std::uint32_t>(reply[7]) << 16 | static_cast<std::uint32_t>(reply[8]) << 24;
    };
    if (exchange(open, 9) != IOKitReturn::success) {
        ::_exit(14);
    }
    ::_exit(exchange(write, sizeof(reply)) == IOKitReturn::notPrivileged ? 0 : 15);
}

TEST(SimulatorServerTest, ARealNonRootProcessCannotWrite) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to start a process as another user";
    }
    RunningSimulator sim;
    std::filesystem::permissions(sim.directory.path(), std::filesystem::perms(0755));
    const auto address = testing::unixSocketAddress(sim.socketPath());
    const auto open =
        SocketFrame::encode(Protocol::encodeRequest(Protocol::simple(Protocol::MessageType::open)));
    const auto write = callFrame(SMCParamStruct::writeBytes, "Ftst", 1, 1);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unprivilegedChild(address, open, write);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    sim.advance(5000);
    EXPECT_EQ(byteOf(*sim.bridge(), ftst), 0);
}

struct Garbage {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool thenHangUp = false;
};

class SimulatorServerGarbageTest : public ::testing::TestWithParam<Garbage> {};

// Sends the bytes, then reads until the server hangs up; false if it is still open after five seconds.
bool closedAfterSending(const std::string& path, const Garbage& garbage) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto address = testing::unixSocketAddress(path);
    const timeval timeout{5, 0};
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    bool closed = false;
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(descriptor, garbage.bytes.data(), garbage.bytes.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(garbage.bytes.size()) &&
        (!garbage.thenHangUp || ::shutdown(descriptor, SHUT_WR) == 0)) {
        std::uint8_t buffer[256];
        ssize_t got = 0;
        while ((got = ::read(descriptor, buffer, sizeof(buffer))) > 0) {
        }
        closed = got == 0 || errno == ECONNRESET;
    }
    ::close(descriptor);
    return closed;
}

TEST_P(SimulatorServerGarbageTest, ClosesOnlyTheConnectionThatSentIt) {
    RunningSimulator sim;
    auto bystander = sim.bridge(SMCWriteCapability::disabled);
    EXPECT_TRUE(closedAfterSending(sim.socketPath(), GetParam()));
    EXPECT_TRUE(eventually([&] { return sim.server.connectionCount() == 1; }));
    // The M3 Max enumerates 2,808 keys.
    EXPECT_EQ(bystander->getKeyCount(), 2808u);
    EXPECT_EQ(sim.bridge()->getKeyCount(), 2808u);
}

std::vector<std::uint8_t> withHeader(std::uint32_t length, std::vector<std::uint8_t> payload) {
    const auto header = SocketFrame::header(length);
    payload.insert(payload.begin(), header.begin(), header.end());
    return payload;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimulatorServerGarbageTest,
    ::testing::Values(Garbage{"Oversized", withHeader(Protocol::maxPayload + 1, {})},
                      Garbage{"Empty", withHeader(0, {})}, Garbage{"UnknownType", withHeader(1, {0x09})},
                      Garbage{"ReplyType", withHeader(5, {0x81, 0, 0, 0, 0})},
                      Garbage{"ShortCall", withHeader(5, {0x03, 2, 0, 0, 0})},
                      Garbage{"ControlThatIsNotJSON", withHeader(4, {0x05, 'n', 'o', '!'})},
                      Garbage{"TruncatedThenHangUp", withHeader(89, {0x03, 2, 0, 0, 0}), true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quorvane
