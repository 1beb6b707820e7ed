#include "Support/PresetFixtures.hpp"
#include "UI/AppModelAdapter.hpp"
#include "UI/CurvePreview.hpp"
#include "UI/FanCard.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/FanLabels.hpp"
#include "UI/MainView.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

QListWidgetItem* row(const MainView& view, const std::string& name) {
    const auto items = view.presetList()->findItems(QString::fromStdString(name), Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.front();
}

FanPreset quiet() {
    return quorvane::testing::curvePreset("Quiet", 35, 60);
}

} // namespace

class MainViewTests : public QObject {
    Q_OBJECT

private slots:
    void sidebarActsOnTheChosenRowAndOnlyApplyActivatesIt() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        int sensorWindows = 0;
        MainView view(*fixture.adapter, DesktopActions{.openSensors = [&] {
            ++sensorWindows;
        }});
        view.show();
        fixture.nextPoll(62, 60);
        model.createCustomPreset();
        fixture.settle();
        const auto created = model.activePreset();
        const auto& other = FanPreset::batterySaver;

        auto* item = row(view, other.name);
        QTest::mouseClick(view.presetList()->viewport(), Qt::LeftButton, {},
                          view.presetList()->visualItemRect(item).center());
        fixture.settle();
        QCOMPARE(view.presetList()->currentItem(), item);
        // A shipped preset can be duplicated, not edited or deleted.
        QVERIFY(!findButton(view, u"Delete"_s)->isEnabled());
        QVERIFY(!findButton(view, u"Edit…"_s)->isEnabled());
        QVERIFY(!(item->flags() & Qt::ItemIsEditable));
        findButton(view, u"Duplicate"_s)->click();
        fixture.settle();
        QCOMPARE(model.customPresets().back().name, other.name + " Copy");
        QCOMPARE(model.activePreset().id, created.id);

        view.presetList()->setCurrentItem(row(view, other.name));
        auto* apply = findButton(view, u"Apply Preset"_s);
        QVERIFY(apply != nullptr && apply->isEnabled());
        apply->click();
        fixture.settle();
        QCOMPARE(model.activePreset().id, other.id);
        QVERIFY(!apply->isEnabled());
        // The active row says so in words, for screen readers.
        QCOMPARE(row(view, other.name)->data(Qt::AccessibleDescriptionRole).toString(), u"Active preset"_s);
        QVERIFY(row(view, created.name)->data(Qt::AccessibleDescriptionRole).toString().isEmpty());

        findButton(view, u"Temperature Sensors"_s)->click();
        QCOMPARE(sensorWindows, 1);
    }

    void aNewPresetsRowRenamesItAndDeletesItAfterTheWarning() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MainView view(*fixture.adapter);
        findButton(view, u"New Custom Preset"_s)->click();
        fixture.settle();
        QVERIFY(row(view, model.customPresets().back().name) != nullptr);
        row(view, model.customPresets().back().name)->setText(u"  Night  "_s);
        fixture.settle();
        QCOMPARE(model.customPresets().back().name, std::string("Night"));

        QTRY_VERIFY(row(view, "Night") != nullptr);
        view.presetList()->setCurrentItem(row(view, "Night"));
        findButton(view, u"Delete"_s)->click();
        QVERIFY(view.deletionConfirmation() != nullptr);
        QCOMPARE(view.deletionConfirmation()->informativeText(),
                 u"This cannot be undone. If the preset is active, fans return to Automatic."_s);
        QCOMPARE(model.customPresets().back().name, std::string("Night"));
        findButton(*view.deletionConfirmation(), u"Delete"_s)->click();
        fixture.settle();
        QVERIFY(row(view, "Night") == nullptr);
        QCOMPARE(model.activePreset().id, FanPreset::systemDefault.id);
    }

    void savingFromTheEditorAppliesAValidPresetAndKeepsTheSheetForAnInvalidOne() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MainView view(*fixture.adapter);
        fixture.nextPoll(62, 60);
        model.createCustomPreset();
        fixture.settle();
        auto preset = model.customPresets().back();

        view.editPreset(preset);
        QVERIFY(view.editor() != nullptr);
        preset.lowTemperature = 70;
        preset.highTemperature = 60;
        emit view.editor()->saveRequested(preset);
        fixture.settle();
        QVERIFY(view.editor() != nullptr && view.editor()->isVisible());
        const QString refusal =
            u"That preset has an invalid name, temperature range, hysteresis, or RPM target."_s;
        QCOMPARE(view.editor()->errorText(), refusal);
        QVERIFY(showsText<Banner>(view, refusal));

        preset.highTemperature = 85;
        emit view.editor()->saveRequested(preset);
        fixture.settle();
        QTRY_VERIFY(view.editor() == nullptr || !view.editor()->isVisible());
        QCOMPARE(model.customPresets().back(), preset);
        QCOMPARE(model.activePreset(), preset);
    }

    void fanCardsShowEachFan() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MainView view(*fixture.adapter);
        fixture.nextPoll(62, 60);
        auto cards = view.findChildren<FanCard*>();
        QCOMPARE(cards.size(), 2);
        QVERIFY(showsText(*cards[0], u"Left Fan (F0)"_s));
        QVERIFY(showsText(*cards[1], u"Right Fan (F1)"_s));
        QVERIFY(showsText(*cards[0], u"Automatic"_s));
        QVERIFY(showsText(*cards[0], u"Curve input 62.0 °C"_s));
        QVERIFY(showsText(view, u"Approved"_s));

        model.activate(FanPreset::fullBlast);
        fixture.settle();
        fixture.nextPoll(62, 60);
        cards = view.findChildren<FanCard*>();
        QVERIFY(showsText(*cards[0], u"Manual"_s));
        QVERIFY(showsText(*cards[0], u"Target 6900"_s)); // the left fan's maximum
    }

    void rampWarningShowsWhileFullSpeedIsNotAboveRampStart() {
        FanCurveEditor editor(quiet(), {0, 1});
        const auto& shared = *child<QWidget>(editor, "sharedSettings");
        auto* warning = child<QWidget>(shared, "rampWarning");
        auto* fullSpeed = child<QSpinBox>(shared, "fullSpeed");
        QVERIFY(warning->isHidden());

        fullSpeed->setValue(35);
        QVERIFY(!warning->isHidden());
        QCOMPARE(editor.preset().highTemperature, 35.0);
        QCOMPARE(child<CurvePreview>(shared, "curvePreview")->accessibleDescription(),
                 u"Fan speed rises linearly from minimum at 35 degrees to maximum at 35 degrees"_s);

        child<QSpinBox>(shared, "rampStart")->setValue(40);
        QVERIFY(!warning->isHidden());
        fullSpeed->setValue(41);
        QVERIFY(warning->isHidden());
        QCOMPARE(editor.preset().lowTemperature, 40.0);
        QCOMPARE(editor.preset().highTemperature, 41.0);
    }

    void unlinkingStartsEveryFanFromTheSharedValuesThenTheyDiverge() {
        auto preset = quiet();
        // Left over from an earlier unlinked edit; unlinking must not bring it back.
        preset.fan0Settings = FanCurveSettings{20, 90, std::nullopt};
        FanCurveEditor editor(preset, {0, 1});
        auto* left = child<QGroupBox>(editor, "fanSection0");
        auto* right = child<QGroupBox>(editor, "fanSection1");
        QVERIFY(left->isHidden() && right->isHidden());
        QCOMPARE(left->title(), u"Left Fan (F0)"_s);

        child<QCheckBox>(editor, "linkFans")->click();

        const FanCurveSettings shared{35, 60, std::nullopt};
        QVERIFY(!editor.preset().linkedFans);
        QCOMPARE(editor.preset().fan0Settings, std::optional(shared));
        QCOMPARE(editor.preset().fan1Settings, std::optional(shared));
        QVERIFY(!left->isHidden() && !right->isHidden());
        QVERIFY(child<QWidget>(editor, "sharedSettings")->isHidden());
        QCOMPARE(child<QSpinBox>(*left, "rampStart")->value(), 35);

        child<QSpinBox>(*right, "rampStart")->setValue(45);
        child<QSpinBox>(*left, "fullSpeed")->setValue(70);
        QCOMPARE(editor.preset().fan0Settings, std::optional(FanCurveSettings{35, 70, std::nullopt}));
        QCOMPARE(editor.preset().fan1Settings, std::optional(FanCurveSettings{45, 60, std::nullopt}));
        QCOMPARE(editor.preset().lowTemperature, 35.0);
        QCOMPARE(editor.preset().highTemperature, 60.0);
    }

    void saveHandsOverTheEditedCopyWithoutJudgingIt() {
        FanCurveEditor editor(quiet(), {0, 1});
        QSignalSpy saved(&editor, &FanCurveEditor::saveRequested);
        auto* name = child<QLineEdit>(editor, "presetName");
        QCOMPARE(name->placeholderText(), u"Name"_s);
        name->clear();
        QTest::keyClicks(name, "  ");
        child<QComboBox>(editor, "controlSource")->setCurrentIndex(1);
        // Constant speed hides the curve and shows a target that is really in the preset.
        const auto& shared = *child<QWidget>(editor, "sharedSettings");
        auto* target = child<QSpinBox>(shared, "targetRPM");
        QVERIFY(target->isVisibleTo(&editor));
        QVERIFY(!child<QSpinBox>(shared, "rampStart")->isVisibleTo(&editor));
        QCOMPARE(editor.preset().constantRPM, std::optional<std::int64_t>(target->value()));
        target->setValue(3300);
        child<QComboBox>(editor, "controlSource")->setCurrentIndex(0);
        child<QSlider>(editor, "hysteresis")->setValue(7);
        QCOMPARE(child<QLabel>(editor, "hysteresisValue")->text(), u"3.5"_s);

        findButton(editor, u"Save and Apply"_s)->click();

        QCOMPARE(saved.count(), 1);
        const auto result = saved.at(0).at(0).value<FanPreset>();
        QCOMPARE(result.id, editor.preset().id);
        QCOMPARE(result.name, std::string("  "));
        QCOMPARE(result.strategy, std::optional(ControlStrategy::cpuCoreAverage));
        QCOMPARE(result.constantRPM, std::optional<std::int64_t>(3300));
        QCOMPARE(result.hysteresis, 3.5);
    }

    void deleteAsksFirstAndOnlyDeleteConfirms() {
        FanCurveEditor editor(quiet(), {0, 1});
        QSignalSpy deleted(&editor, &FanCurveEditor::deleteRequested);
        for (const auto& answer : {u"Cancel"_s, u"Delete"_s}) {
            findButton(editor, u"Delete Preset"_s)->click();
            auto* box = editor.findChild<QMessageBox*>();
            QVERIFY(box);
            QCOMPARE(box->text(),
                     u"This cannot be undone. If this preset is active, both fans return to Automatic."_s);
            QCOMPARE(deleted.count(), 0);
            findButton(*box, answer)->click();
            QTRY_VERIFY(!editor.findChild<QMessageBox*>());
        }
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).value<FanPreset>().id, editor.preset().id);
    }

    void onePollIsOneSignalCarryingEveryChangedPropertyAndIdleWorkNone() {
        ViewModelFixture fixture;
        fixture.launch();
        QSignalSpy spy(fixture.adapter.get(), &AppModelAdapter::changed);
        fixture.settle();
        QCOMPARE(spy.count(), 0);

        fixture.pollAndFeed(fixture.snapshot(62, 60));

        QCOMPARE(spy.count(), 1);
        const auto changes = spy.at(0).at(0).value<AppModelAdapter::Changes>();
        QVERIFY(changes.contains(AppModel::Property::fans));
        QVERIFY(changes.contains(AppModel::Property::fanControlTemperatures));
        QVERIFY(!changes.contains(AppModel::Property::launchAtLogin));
    }

    // The first two fans are named on the cards and in the editor.
    void furtherFansAreNamedByIndex() {
        QCOMPARE(fanLabel(2), u"Fan 2"_s);
        QCOMPARE(fanZoneLabel(0), u"Left zone"_s);
        QCOMPARE(fanZoneLabel(1), u"Right zone"_s);
        QCOMPARE(fanZoneLabel(3), u"Fan 3 zone"_s);
        QCOMPARE(formatCelsius(std::nullopt), u"unavailable"_s);
    }
};

QTEST_MAIN(MainViewTests)
#include "MainViewTests.moc"
