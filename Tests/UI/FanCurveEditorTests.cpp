#include "Support/PresetFixtures.hpp"
#include "UI/CurvePreview.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/WidgetSearch.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;

namespace {

FanPreset quiet() {
    return quorvane::testing::curvePreset("Quiet", 35, 60);
}

} // namespace

class FanCurveEditorTests : public QObject {
    Q_OBJECT

private slots:
    void rampWarningShowsWhileFullSpeedIsNotAboveRampStart() {
        FanCurveEditor editor(quiet(), {0, 1});
        const auto& shared = *child<QWidget>(editor, "sharedSettings");
        auto* warning = child<QWidget>(shared, "rampWarning");
        auto* fullSpeed = child<QSpinBox>(shared, "fullSpeed");
        QVERIFY(warning->isHidden());

        fullSpeed->setValue(35);
        QVERIFY(!warning->isHidden());
        QCOMPARE(editor.preset().highTemperature, 35.0);
        QCOMPARE(
            child<CurvePreview>(shared, "curvePreview")->accessibleDescription(),
            QStringLiteral("Fan speed rises linearly from minimum at 35 degrees to maximum at 35 degrees"));

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
        QCOMPARE(left->title(), QStringLiteral("Left Fan (F0)"));

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
        QCOMPARE(name->placeholderText(), QStringLiteral("Name"));
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
        QCOMPARE(child<QLabel>(editor, "hysteresisValue")->text(), QStringLiteral("3.5"));

        findButton(editor, QStringLiteral("Save and Apply"))->click();

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
        for (const auto& answer : {QStringLiteral("Cancel"), QStringLiteral("Delete")}) {
            findButton(editor, QStringLiteral("Delete Preset"))->click();
            auto* box = editor.findChild<QMessageBox*>();
            QVERIFY(box);
            QCOMPARE(box->text(),
                     QStringLiteral(
                         "This cannot be undone. If this preset is active, both fans return to Automatic."));
            QCOMPARE(deleted.count(), 0);
            findButton(*box, answer)->click();
            QTRY_VERIFY(!editor.findChild<QMessageBox*>());
        }
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).value<FanPreset>().id, editor.preset().id);
    }
};

QTEST_MAIN(FanCurveEditorTests)
#include "FanCurveEditorTests.moc"
