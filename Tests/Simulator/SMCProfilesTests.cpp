#include "FirmwareHarness.hpp"
#include "Simulator/SMCProfileFiller.hpp"
#include "Simulator/SMCProfiles.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

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

bool hasKey(const SMCProfile& profile, std::string_view name) {
    return std::any_of(profile.keys.begin(), profile.keys.end(),
                       [&](const SimulatedKey& key) { return key.key == SMCKey::fromString(name); });
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

TEST(SMCProfilesTest, Mac1511HasTheVerifiedTopology) {
    const auto profile = *SMCProfiles::named("Mac15,11");
    EXPECT_TRUE(profile.verifiedTopology);
    EXPECT_TRUE(profile.fanTimings.requiresUnlock);
    EXPECT_GE(profile.keys.size(), 2700u);
    EXPECT_LE(profile.keys.size(), 2900u);
    EXPECT_EQ(countKeys(profile, "flt ", 'T'), 366u);
    EXPECT_EQ(countKeys(profile, "ioft", 'T'), 9u);

    FirmwareHarness machine(profile);
    for (const char* key :
         {"Te05", "Te0L", "Te0P", "Te0S", "Tf04", "Tf09", "Tf0A", "Tf0B", "Tf0D", "Tf0E", "Tf44", "Tf49",
          "Tf4A", "Tf4B", "Tf4D", "Tf4E", "Tf14", "Tf18", "Tf19", "Tf1A", "Tf24", "Tf28", "Tf29", "Tf2A",
          "TCMz", "TRDX", "TaLP", "TaLT", "TaLW", "TDeL", "Ts0P", "TaRF", "TaRT", "TaRW", "TDeR", "Ts1P"}) {
        const float celsius = machine.readFloat(key);
        EXPECT_TRUE(celsius >= 20 && celsius <= 60) << key << " reads " << celsius;
    }
    EXPECT_EQ(machine.readFloat("Tf0C"), 1.0f);
    EXPECT_EQ(machine.readFloat("Tp2k"), 40.0f);
    EXPECT_EQ(machine.readFloat("Tz1j"), 0.0f);
    EXPECT_LT(machine.readFloat("Tg0L"), 0.0f);
    // 22.7 in 48.16 fixed point, little-endian.
    EXPECT_EQ(machine.read("TG0B"), (std::vector<std::uint8_t>{0x33, 0xB3, 0x16, 0, 0, 0, 0, 0}));

    const auto target = machine.call(SMCParamStruct::keyInfo, "F1Tg");
    EXPECT_EQ(target.dataSize(), 4u);
    EXPECT_EQ(target.dataType(), SimulatedKey::typeCode("flt "));
    EXPECT_EQ(target.dataAttributes(), 0xD4);
    EXPECT_EQ(machine.call(SMCParamStruct::keyInfo, "Ftst").dataAttributes(), 0xD0);
    EXPECT_EQ(machine.readByte("F0Md"), 3);
    EXPECT_EQ(machine.readByte("Ftst"), 0);
    EXPECT_EQ(machine.readFloat("F1Mx"), 7450.0f);
}

TEST(SMCProfilesTest, UnverifiedAndFanlessMachines) {
    const auto twoFans = *SMCProfiles::named("Mac14,6");
    EXPECT_FALSE(twoFans.verifiedTopology);
    EXPECT_FALSE(twoFans.fanTimings.requiresUnlock);
    EXPECT_NEAR(static_cast<double>(twoFans.keys.size()), 1500, 100);
    EXPECT_FALSE(hasKey(twoFans, "Tf04"));
    EXPECT_FALSE(hasKey(twoFans, "Ftst"));
    EXPECT_TRUE(hasKey(twoFans, "Tp05"));

    const auto fanless = *SMCProfiles::named("Mac14,2");
    EXPECT_NEAR(static_cast<double>(fanless.keys.size()), 1400, 100);
    EXPECT_EQ(FirmwareHarness(fanless).readByte("FNum"), 0);
    EXPECT_FALSE(SMCProfiles::named("Mac99,1").has_value());
}

TEST(SMCProfileFillerTest, FillsDeterministicallyWithoutTemperaturesOrFans) {
    std::vector<SimulatedKey> keys{SimulatedKey::flt("BATT", 1.0f)};
    SMCProfileFiller::fillTo(keys, 4000, 7);
    ASSERT_EQ(keys.size(), 4000u);
    std::set<SMCKey> distinct;
    for (const auto& key : keys) {
        EXPECT_TRUE(letter(key.key, 0) != 'T' && letter(key.key, 0) != 'F' && key.isReadable())
            << key.key.rawValue;
        distinct.insert(key.key);
    }
    EXPECT_EQ(distinct.size(), keys.size());

    std::vector<SimulatedKey> again{SimulatedKey::flt("BATT", 1.0f)};
    SMCProfileFiller::fillTo(again, 4000, 7);
    EXPECT_TRUE(std::equal(keys.begin(), keys.end(), again.begin(), [](const auto& lhs, const auto& rhs) {
        return lhs.key == rhs.key && lhs.bytes == rhs.bytes;
    }));
}

} // namespace
} // namespace quorvane
