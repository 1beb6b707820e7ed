#include "UI/FanCard.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/MainView.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"

#include <QListWidget>
#include <QMessageBox>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;

namespace {

QListWidgetItem* row(const MainView& view, const std::string& name) {
    const auto items = view.presetList()->findItems(QString::fromStdString(name), Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.front();
}

} // namespace

class MainViewTests : public QObject {
    Q_OBJECT

private slots:
    void renamingTrimsAndRefusesBlankNames() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MainView view(*fixture.adapter);
        findButton(view, QStringLiteral("New Custom Preset"))->click();
        fixture.settle();
        const auto created = model.customPresets().back();
        QVERIFY(row(view, created.name) != nullptr);

        row(view, created.name)->setText(QStringLiteral("  Night  "));
        fixture.settle();
        QCOMPARE(model.customPresets().back().name, std::string("Night"));

        row(view, "Night")->setText(QStringLiteral("   "));
        fixture.settle();
        QCOMPARE(model.customPresets().back().name, std::string("Night"));
        QTRY_VERIFY(row(view, "Night") != nullptr);
    }

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
        const auto count = model.customPresets().size();
        const auto& other = FanPreset::batterySaver;

        auto* item = row(view, other.name);
        QTest::mouseClick(view.presetList()->viewport(), Qt::LeftButton, {},
                          view.presetList()->visualItemRect(item).center());
        fixture.settle();
        QCOMPARE(view.presetList()->currentItem(), item);
        findButton(view, QStringLiteral("Duplicate"))->click();
        fixture.settle();
        QCOMPARE(model.customPresets().size(), count + 1);
        QCOMPARE(model.customPresets().back().name, other.name + " Copy");
        QCOMPARE(model.activePreset().id, created.id);

        view.presetList()->setCurrentItem(row(view, other.name));
        auto* apply = findButton(view, QStringLiteral("Apply Preset"));
        QVERIFY(apply != nullptr && apply->isEnabled());
        apply->click();
        fixture.settle();
        QCOMPARE(model.activePreset().id, other.id);
        QVERIFY(!apply->isEnabled());
        // The active row says so in words, for screen readers.
        QCOMPARE(row(view, other.name)->data(Qt::AccessibleDescriptionRole).toString(),
                 QStringLiteral("Active preset"));
        QVERIFY(row(view, created.name)->data(Qt::AccessibleDescriptionRole).toString().isEmpty());

        findButton(view, QStringLiteral("Temperature Sensors"))->click();
        QCOMPARE(sensorWindows, 1);
    }

    void lockedPresetsCannotBeEditedOrDeleted() {
        ViewModelFixture fixture;
        fixture.launch();
        MainView view(*fixture.adapter);
        view.presetList()->setCurrentItem(row(view, FanPreset::batterySaver.name));
        QVERIFY(!findButton(view, QStringLiteral("Delete"))->isEnabled());
        QVERIFY(!findButton(view, QStringLiteral("Edit…"))->isEnabled());
        QVERIFY(findButton(view, QStringLiteral("Duplicate"))->isEnabled());
        QVERIFY(!(row(view, FanPreset::batterySaver.name)->flags() & Qt::ItemIsEditable));
    }

    void deletingAsksWithTheWarningFirst() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MainView view(*fixture.adapter);
        model.createCustomPreset();
        fixture.settle();
        const auto created = model.customPresets().back();
        view.presetList()->setCurrentItem(row(view, created.name));
        findButton(view, QStringLiteral("Delete"))->click();
        QVERIFY(view.deletionConfirmation() != nullptr);
        QCOMPARE(view.deletionConfirmation()->informativeText(),
                 QStringLiteral("This cannot be undone. If the preset is active, fans return to Automatic."));
        QCOMPARE(model.customPresets().back().id, created.id);
        findButton(*view.deletionConfirmation(), QStringLiteral("Delete"))->click();
        fixture.settle();
        QVERIFY(row(view, created.name) == nullptr);
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
            QStringLiteral("That preset has an invalid name, temperature range, hysteresis, or RPM target.");
        QCOMPARE(view.editor()->errorText(), refusal);
        QVERIFY(bannerShown(view, refusal));

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
        QVERIFY(showsText(*cards[0], QStringLiteral("Left Fan (F0)")));
        QVERIFY(showsText(*cards[1], QStringLiteral("Right Fan (F1)")));
        QVERIFY(showsText(*cards[0], QStringLiteral("Automatic")));
        QVERIFY(showsText(*cards[0], QStringLiteral("Curve input 62.0 °C")));
        QVERIFY(showsText(view, QStringLiteral("Approved")));

        model.activate(FanPreset::fullBlast);
        fixture.settle();
        fixture.nextPoll(62, 60);
        cards = view.findChildren<FanCard*>();
        QVERIFY(showsText(*cards[0], QStringLiteral("Manual")));
        QVERIFY(showsText(*cards[0], QStringLiteral("Target 6900"))); // the left fan's maximum
    }
};

QTEST_MAIN(MainViewTests)
#include "MainViewTests.moc"
