#include "Helpers/FanPreset.hpp"
#include "Helpers/PresetLibraryError.hpp"
#include "Support/PresetFixtures.hpp"

#include <cmath>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace quorvane {
namespace {

using testing::constantPreset;

FanPreset curvePreset(double low = 40, double high = 80) {
    return testing::curvePreset("Quiet", low, high);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

FanPreset changed(FanPreset preset, const std::function<void(FanPreset&)>& change) {
    change(preset);
    return preset;
}
FanPreset named(std::string name) {
    return changed(curvePreset(), [&](FanPreset& p) { p.name = name; });
}
FanPreset band(double hysteresis) {
    return changed(curvePreset(), [&](FanPreset& p) { p.hysteresis = hysteresis; });
}
FanPreset unlinked(std::optional<FanCurveSettings> fan0, std::optional<FanCurveSettings> fan1) {
    return changed(curvePreset(nan), [&](FanPreset& p) { // the shared range no longer matters
        p.linkedFans = false, p.fan0Settings = fan0, p.fan1Settings = fan1;
    });
}

struct ValidityCase {
    const char* label;
    FanPreset preset;
    bool valid;
};

class PresetValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(PresetValidity, FollowsTheCustomPresetRules) {
    EXPECT_EQ(GetParam().preset.isValidCustomConfiguration(), GetParam().valid);
}

const FanCurveSettings ramp30to60{30, 60, std::nullopt};

INSTANTIATE_TEST_SUITE_P(
    Rules, PresetValidity,
    ::testing::Values(
        ValidityCase{"plain", curvePreset(), true}, ValidityCase{"spaces", named("   "), false},
        ValidityCase{"unicodeSpaces", named("\u00A0\u3000\u2028"), false},
        ValidityCase{"notCustom",
                     changed(curvePreset(), [](FanPreset& p) { p.kind = PresetKind::automatic; }), false},
        ValidityCase{"noStrategy", changed(curvePreset(), [](FanPreset& p) { p.strategy.reset(); }), false},
        ValidityCase{"band04", band(0.4), false}, ValidityCase{"band05", band(0.5), true},
        ValidityCase{"band101", band(10.1), false}, ValidityCase{"bandNaN", band(nan), false},
        ValidityCase{"emptyRange", curvePreset(50, 50), false},
        ValidityCase{"below20", curvePreset(19.9), false}, ValidityCase{"nanLow", curvePreset(nan), false},
        ValidityCase{"rpm999", constantPreset(999), false},
        ValidityCase{"rpm1000", constantPreset(1000), true},
        ValidityCase{"rpm6000", constantPreset(6000), true},
        ValidityCase{"rpm6001", constantPreset(6001), false},
        ValidityCase{"rpmMissing", constantPreset(std::nullopt), false},
        ValidityCase{"rpmIgnoresTemps",
                     changed(constantPreset(2000), [](FanPreset& p) { p.lowTemperature = nan; }), true},
        ValidityCase{"unlinkedOnlyFan0", unlinked(ramp30to60, std::nullopt), false},
        ValidityCase{"unlinkedBoth", unlinked(ramp30to60, FanCurveSettings{35, 70, std::nullopt}), true},
        ValidityCase{"unlinkedFan1Bad", unlinked(ramp30to60, FanCurveSettings{70, 35, std::nullopt}), false}),
    [](const auto& info) { return std::string(info.param.label); });

const FanInfo fan0{0, 2000, 1200, 6000, FanMode::automatic, std::nullopt};
const FanInfo fan1{1, 2000, 1200, 6000, FanMode::automatic, std::nullopt};

TEST(FanPreset, FixedTargetsPinOnlyFullBlastAndConstantPresets) {
    EXPECT_EQ(FanPreset::fullBlast.fixedTarget(fan0), 6000);
    EXPECT_EQ(FanPreset::cpuCoreDefault.fixedTarget(fan0), std::nullopt);
    EXPECT_EQ(constantPreset(7000).fixedTarget(fan0), 6000);
    EXPECT_EQ(constantPreset(800).fixedTarget(fan0), 1200);
    EXPECT_EQ(constantPreset(std::nullopt).fixedTarget(fan0), 1200);
    EXPECT_EQ(constantPreset(3000).fixedTarget(fan0), 3000);
}

TEST(FanPreset, UnlinkedPresetsUseEachFansOwnSettingsWhenPresent) {
    auto preset = constantPreset(3000);
    preset.linkedFans = false;
    preset.fan1Settings = FanCurveSettings{25, 45, 4500};
    EXPECT_EQ(preset.fixedTarget(fan0), 3000);
    EXPECT_EQ(preset.fixedTarget(fan1), 4500);
    EXPECT_EQ(preset.settings(1), (FanCurveSettings{25, 45, 4500}));
    EXPECT_EQ(preset.settings(2), (FanCurveSettings{40, 80, 3000}));
    preset.ensureFanSettings();
    EXPECT_EQ(preset.fan0Settings, (FanCurveSettings{40, 80, 3000}));
    EXPECT_EQ(preset.fan1Settings, (FanCurveSettings{25, 45, 4500}));
    preset.linkedFans = true;
    EXPECT_EQ(preset.fixedTarget(fan1), 3000);
}

using Field = std::pair<const char*, nlohmann::json>;
class PresetDecoding : public ::testing::TestWithParam<Field> {};

TEST_P(PresetDecoding, RefusesWrongShapesNamingTheField) {
    auto json = curvePreset().toJSON();
    json[GetParam().first] = GetParam().second;
    EXPECT_THAT([&] { FanPreset::fromJSON(json, "presets[3]"); },
                ::testing::ThrowsMessage<PresetLibraryError>(
                    ::testing::HasSubstr(std::string("presets[3].") + GetParam().first)));
}

INSTANTIATE_TEST_SUITE_P(Shapes, PresetDecoding,
                         ::testing::Values(Field{"kind", "turbo"}, Field{"id", "not-a-uuid"},
                                           Field{"name", 7}, Field{"lowTemperature", "40"},
                                           Field{"constantRPM", 2500.5},
                                           Field{"constantRPM", 18446744073709551615ULL},
                                           Field{"linkedFans", 1}, Field{"strategy", "fastest"},
                                           Field{"fan0Settings", nlohmann::json::array()}));

} // namespace
} // namespace quorvane
