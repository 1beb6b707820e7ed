#include "App/AppModelFixture.hpp"
#include "Helpers/FanCurveManager.hpp"
#include "Helpers/PresetSelectionStore.hpp"

#include <fstream>

namespace quorvane::testing {
namespace {

class AppModelPresetTest : public AppModelTest {
protected:
    AppModelPresetTest() {
        launch();
        feed(snapshot(60, 60));
    }

    std::vector<std::string> userPresetNames() const {
        std::vector<std::string> names;
        for (const auto& preset : model->customPresets()) {
            if (!preset.isLocked()) {
                names.push_back(preset.name);
            }
        }
        return names;
    }
    std::filesystem::path file(const std::string& name, const std::string& contents) {
        auto path = directory / name;
        std::ofstream(path) << contents;
        return path;
    }
};

TEST_F(AppModelPresetTest, createDuplicateAndRenameKeepTheLibraryConsistent) {
    for (const char* name : {"A", "B", "C"}) {
        model->savePreset(curvePreset(name));
    }
    model->createCustomPreset();
    settle();
    EXPECT_EQ(model->activePreset().name, "Custom 4");
    EXPECT_TRUE(fanIsManual(0)) << "a new preset is applied at once";

    model->duplicatePreset(FanPreset::automatic);
    model->duplicatePreset(model->activePreset());
    EXPECT_EQ(userPresetNames(), (std::vector<std::string>{"A", "B", "C", "Custom 4", "Custom 4 Copy"}));

    model->renamePreset(model->activePreset(), " \t\u00A0 ");
    EXPECT_EQ(model->activePreset().name, "Custom 4");
    model->renamePreset(model->activePreset(), "  Night\u2003");
    EXPECT_EQ(model->activePreset().name, "Night");
    model->renamePreset(FanPreset::batterySaver, "Mine");
    EXPECT_EQ(FanCurveManager(defaults).loadCustomPresets(), model->customPresets());
    EXPECT_FALSE(model->lastError());

    auto broken = model->activePreset();
    broken.hysteresis = 12;
    const auto before = model->customPresets();
    model->savePreset(broken);
    EXPECT_EQ(model->lastError(),
              "That preset has an invalid name, temperature range, hysteresis, or RPM target.");
    EXPECT_EQ(model->customPresets(), before);
}

TEST_F(AppModelPresetTest, deletingTheActivePresetReturnsFansToAutomatic) {
    const auto quiet = curvePreset();
    model->savePreset(quiet);
    activate(quiet);
    ASSERT_TRUE(fanIsManual(0));

    model->deletePreset(FanPreset::cpuCoreDefault);
    model->deletePreset(quiet);
    settle();
    EXPECT_FALSE(fanIsManual(0) || fanIsManual(1));
    EXPECT_EQ(model->activePreset().id, FanPreset::systemDefault.id);
    EXPECT_EQ(PresetSelectionStore(defaults).savedPresetID(), FanPreset::systemDefault.id);
    EXPECT_TRUE(userPresetNames().empty());
    EXPECT_EQ(model->customPresets().size(), 2u) << "the shipped presets cannot be deleted";
    pollAndFeed(snapshot(60, 60));
    EXPECT_FALSE(fanIsManual(0)) << "a deleted preset is never restored";
}

TEST_F(AppModelPresetTest, importAddsValidPresetsUnderFreshIdsAndReportsEachFailure) {
    auto valid = curvePreset("Imported");
    auto invalid = curvePreset("Broken");
    invalid.lowTemperature = 90;
    const auto document = [](int version, const std::vector<FanPreset>& presets) {
        return nlohmann::json{{"version", version}, {"presets", FanPreset::listToJSON(presets)}}.dump();
    };

    EXPECT_TRUE(model->importCustomPresets(file("mixed.json", document(1, {valid, invalid, valid}))));
    EXPECT_FALSE(model->lastError());
    EXPECT_EQ(userPresetNames(), (std::vector<std::string>{"Imported", "Imported"}));
    EXPECT_TRUE(std::none_of(model->customPresets().begin(), model->customPresets().end(),
                             [&](const FanPreset& preset) { return preset.id == valid.id; }));
    EXPECT_EQ(model->activePreset().id, FanPreset::systemDefault.id) << "importing activates nothing";

    const std::pair<std::filesystem::path, std::string> failures[] = {
        {file("invalid.json", document(1, {invalid})), "No valid custom presets found in that file."},
        {file("future.json", document(2, {valid})), "That preset file uses an unsupported format version."},
        {directory / "missing.json",
         "Import failed: The file “missing.json” could not be opened (No such file or directory)."},
        {file("garbage.json", "{"), "Import failed: The file is not valid JSON (line 1, column 2)."},
    };
    for (const auto& [path, message] : failures) {
        EXPECT_FALSE(model->importCustomPresets(path));
        EXPECT_EQ(model->lastError(), message);
    }
    EXPECT_EQ(userPresetNames().size(), 2u);
}

TEST_F(AppModelPresetTest, exportWritesTheLibraryOrExplainsWhyNot) {
    model->savePreset(curvePreset("Mine"));
    const auto exported = directory / "Quorvane-Presets.json";
    ASSERT_TRUE(model->exportCustomPresets(exported));
    EXPECT_TRUE(model->importCustomPresets(exported));
    const auto names = userPresetNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Mine"), 2);

    EXPECT_FALSE(model->exportCustomPresets(directory / "absent" / "Quorvane-Presets.json"));
    EXPECT_EQ(
        model->lastError(),
        "Export failed: The file “Quorvane-Presets.json” could not be saved (No such file or directory).");
}

} // namespace
} // namespace quorvane::testing
