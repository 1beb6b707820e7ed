#include "Platform/HardwareModel.hpp"
#include "Platform/SocketError.hpp"
#include "Platform/UnixSocketListener.hpp"
#include "Simulator/RunningSimulator.hpp"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace quorvane {
namespace {

using testing::RunningSimulator;
using testing::TemporaryDirectory;

TEST(HardwareModelTest, PrefersTheServedMachineThenTheProductNameThenUnknown) {
    TemporaryDirectory directory;
    HardwareModel::Sources sources;
    sources.smcSocketPath = (directory.path() / "smc.sock").string();
    sources.productNamePath = (directory.path() / "product_name").string();
    EXPECT_EQ(HardwareModel::identifier(sources), "Unknown Mac");

    std::ofstream(sources.productNamePath) << "  \n";
    EXPECT_EQ(HardwareModel::identifier(sources), "Unknown Mac");
    std::ofstream(sources.productNamePath) << "MacBookPro18,3 \n";
    EXPECT_EQ(HardwareModel::identifier(sources), "MacBookPro18,3");

    RunningSimulator sim(SMCProfiles::mac14_6(), PeerPolicy::standard(), *sources.smcSocketPath);
    EXPECT_EQ(HardwareModel::identifier(sources), "Mac14,6");
}

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
        try {
            UnixSocketListener second(io, path);
            FAIL() << "two listeners on one path";
        } catch (const SocketError& error) {
            EXPECT_EQ(std::string(error.what()), "Another process is already serving " + path);
        }
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));

    std::ofstream(path) << "not a socket";
    EXPECT_THROW(
        {
            try {
                UnixSocketListener listener(io, path);
            } catch (const SocketError& error) {
                EXPECT_EQ(std::string(error.what()), path + " exists and is not a socket");
                throw;
            }
        },
        SocketError);
    EXPECT_THROW(UnixSocketListener(io, "/tmp/" + std::string(200, 'x')), SocketError);
}

} // namespace
} // namespace quorvane
