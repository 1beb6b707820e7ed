#include "Helpers/FanCurveManager.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"
#include "Helpers/PresetExportFile.hpp"
#include "Helpers/PresetLibraryError.hpp"
#include "Helpers/PresetSelectionStore.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MessageOf.hpp"
#include "Support/PresetFixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

using testing::curvePreset;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::names;

class PresetLibraryTest : public ::testing::Test {
protected:
    void store(const std::vector<FanPreset>& presets) {
        defaults.setString(FanCurveManager::storageKey, FanPreset::listToJSON(presets).dump());
    }
    std::string failureOf(const std::function<void()>& operation) {
        return testing::messageOf<PresetLibraryError>(operation);
    }

    InMemoryDefaultsStore defaults;
    FanCurveManager manager{defaults};
};

TEST_F(PresetLibraryTest, FreshOrUnreadableLibraryLoadsTheShippedPresetsOnly) {
    const std::vector<FanPreset> shipped{FanPreset::batterySaver, FanPreset::cpuCoreDefault};
    EXPECT_EQ(manager.loadCustomPresets(), shipped);
    for (const char* stored : {"[{\"id\": 1}]", "not json", "{}", "[{\"kind\": \"custom\"}"}) {
        defaults.setString(FanCurveManager::storageKey, stored);
        EXPECT_EQ(manager.loadCustomPresets(), shipped) << stored;
    }
    auto foreign = curvePreset("Later").toJSON();
    foreign["kind"] = "quantum";
    defaults.setString(FanCurveManager::storageKey,
                       nlohmann::json::array({curvePreset("Kept").toJSON(), foreign}).dump());
    EXPECT_EQ(manager.loadCustomPresets(), shipped);
}

TEST_F(PresetLibraryTest, ShippedCopiesKeepValidTuningButNeverTheirName) {
    auto tuned = FanPreset::batterySaver;
    tuned.name = "Mine";
    tuned.lowTemperature = 85;
    tuned.highTemperature = 95;
    store({tuned});
    auto loaded = manager.loadCustomPresets();
    EXPECT_EQ(loaded[0].name, "Battery Saver");
    EXPECT_EQ(loaded[0].lowTemperature, 85);

    tuned.hysteresis = 20;
    store({tuned});
    EXPECT_EQ(manager.loadCustomPresets()[0], FanPreset::batterySaver);
}

TEST_F(PresetLibraryTest, LoadDropsReservedNonCustomInvalidAndRepeatedEntries) {
    auto first = curvePreset("First");
    auto repeat = first;
    repeat.name = "Repeat";
    auto automaticCopy = FanPreset::automatic;
    automaticCopy.id = UUID::generate();
    auto reservedID = curvePreset("Squatter");
    reservedID.id = FanPreset::fullBlast.id;
    store({first, repeat, automaticCopy, reservedID, curvePreset("   "), curvePreset("Second")});
    EXPECT_THAT(names(manager.loadCustomPresets()),
                ElementsAre("Battery Saver", FanPreset::cpuCoreDefault.name, "First", "Second"));
}

TEST_F(PresetLibraryTest, FailedEncodingLeavesTheStoredLibraryAlone) {
    manager.saveCustomPresets({curvePreset("Keep")});
    const auto before = defaults.values();
    auto broken = curvePreset("Bad\xFF");
    EXPECT_THAT(failureOf([&] { manager.saveCustomPresets({broken}); }), HasSubstr("could not be encoded"));
    EXPECT_EQ(defaults.values(), before);
}

TEST_F(PresetLibraryTest, SaveKeepsAnUnreadableLibraryAsideInsteadOfDestroyingIt) {
    testing::LogCapture logs;
    defaults.setString(FanCurveManager::storageKey, "[{\"kind\": \"fromTheFuture\"}]");
    manager.saveCustomPresets({curvePreset("New")});
    EXPECT_EQ(defaults.value(FanCurveManager::unreadableKey),
              nlohmann::json::array({"[{\"kind\": \"fromTheFuture\"}]"}));
    EXPECT_EQ(logs.messagesContaining("could not be read").size(), 1U);
    manager.saveCustomPresets({curvePreset("Newer")});
    EXPECT_EQ(defaults.value(FanCurveManager::unreadableKey)->size(), 1U);
}

TEST_F(PresetLibraryTest, SelectionFallsBackToAppleDefault) {
    PresetSelectionStore selection(defaults);
    auto library = manager.loadCustomPresets();
    EXPECT_EQ(selection.load(library), FanPreset::systemDefault);
    selection.save(library[1]);
    EXPECT_EQ(defaults.string(PresetSelectionStore::storageKey), "00000000-0000-0000-0000-000000000003");
    EXPECT_EQ(selection.load(library), library[1]);
    EXPECT_EQ(selection.load({library[0]}), FanPreset::systemDefault);
}

TEST_F(PresetLibraryTest, ExportThenImportIntoAnEmptyLibraryGivesFreshIdsAndEqualSettings) {
    auto unlinked = curvePreset("Split");
    unlinked.linkedFans = false;
    unlinked.fan0Settings = FanCurveSettings{30, 60, std::nullopt};
    unlinked.fan1Settings = FanCurveSettings{35, 70, 2000};
    manager.saveCustomPresets({unlinked, curvePreset("Quiet")});
    auto library = manager.loadCustomPresets();
    auto text = PresetExportFile{1, library}.encoded();

    InMemoryDefaultsStore otherDefaults;
    FanCurveManager other(otherDefaults);
    auto imported = PresetExportFile::decode(text).importablePresets();
    auto merged = other.loadCustomPresets();
    merged.insert(merged.end(), imported.begin(), imported.end());
    other.saveCustomPresets(merged);
    auto result = other.loadCustomPresets();
    ASSERT_EQ(result.size(), 2 + library.size());
    for (std::size_t i = 0; i < library.size(); ++i) {
        auto copy = result[2 + i];
        EXPECT_NE(copy.id, library[i].id);
        EXPECT_FALSE(copy.isLocked());
        copy.id = library[i].id;
        EXPECT_EQ(copy, library[i]);
    }
}

TEST_F(PresetLibraryTest, ImportAcceptanceMessages) {
    auto file = [](std::int64_t version, std::vector<FanPreset> presets) {
        return PresetExportFile::decode(PresetExportFile{version, std::move(presets)}.encoded());
    };
    EXPECT_EQ(failureOf([&] { file(2, {curvePreset("A")}).importablePresets(); }),
              "That preset file uses an unsupported format version.");
    EXPECT_EQ(failureOf([&] { file(1, {}).importablePresets(); }),
              "No valid custom presets found in that file.");
    auto imported = file(1, {curvePreset("A"), curvePreset(""), curvePreset("B")}).importablePresets();
    EXPECT_THAT(names(imported), ElementsAre("A", "B"));

    EXPECT_EQ(failureOf([] { PresetExportFile::decode("{\n  \"version\": 1,\n  \"presets\": [\n"); }),
              "Import failed: The file is not valid JSON (line 4, column 1).");
    EXPECT_EQ(failureOf([] { PresetExportFile::decode(R"({"version": "1", "presets": []})"); }),
              "Import failed: The preset data is not valid: version is not an integer.");
    EXPECT_THAT(failureOf([] { PresetExportFile::decode(R"({"version": 1, "presets": [{"id": 3}]})"); }),
                HasSubstr("Import failed: The preset data is not valid: presets[0].id is not a string"));

    auto nanPreset = curvePreset("NaN");
    nanPreset.highTemperature = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THAT(failureOf([&] { PresetExportFile{1, {nanPreset}}.encoded(); }), HasSubstr("Export failed: "));
}

} // namespace
} // namespace quorvane
