#include "Simulator/SMCProfiles.hpp"
#include "Support/FirmwareHarness.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::FirmwareHarness;

char letter(SMCKey key, int position) {
    return static_cast<char>(key.rawValue >> (8 * (3 - position)));
}

std::size_t countKeys(const SMCProfile& profile, std::string_view type, char first) {
    return std::count_if(profile.keys.begin(), profile.keys.end(), [&](const SimulatedKey& key) {
        return letter(key.key, 0) == first && key.dataType == SimulatedKey::typeCode(type);
    });
}

class SMCProfileTableTest : public ::testing::TestWithParam<SMCProfile> {};

TEST_P(SMCProfileTableTest, KeysAreUniqueCountedHonestlyAndFansMatchFNum) {
    const auto& profile = GetParam();
    FirmwareHarness machine(profile);
    // Equal sizes mean no duplicates; "#KEY" is stated in the data and served by the firmware.
    EXPECT_EQ(machine.firmware.keyCount(), profile.keys.size());
    const auto count = machine.read("#KEY");
    ASSERT_EQ(count.size(), 4u);
    EXPECT_EQ((count[0] << 24 | count[1] << 16 | count[2] << 8 | count[3]), profile.keys.size());

    int fans = 0;
    while (machine.firmware.valueBytes(SMCKey::fan(fans, "Ac"))) {
        ++fans;
    }
    EXPECT_EQ(machine.readByte("FNum"), fans);
    EXPECT_EQ(std::count_if(profile.keys.begin(), profile.keys.end(),
                            [](const SimulatedKey& key) {
                                return letter(key.key, 0) == 'F' && letter(key.key, 1) <= '9';
                            }),
              fans * 5);
    EXPECT_EQ(countKeys(profile, "sp78", 'T'), 0u);
}

INSTANTIATE_TEST_SUITE_P(All, SMCProfileTableTest, ::testing::ValuesIn(SMCProfiles::all()),
                         [](const auto& info) {
                             auto name = info.param.name;
                             std::replace(name.begin(), name.end(), ',', '_');
                             return name;
                         });

} // namespace
} // namespace quorvane
