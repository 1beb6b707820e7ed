#include "Platform/HardwareModel.hpp"
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

} // namespace
} // namespace quorvane
