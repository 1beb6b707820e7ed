#include "UI/MenuBarView.hpp"
#include "UI/PresetInfoButton.hpp"
#include "UI/PresetInfoPopover.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;

namespace {

// The preset buttons in the order shown, and which one carries the check mark.
std::pair<QStringList, QString> presetRows(const MenuBarView& view) {
    QStringList names;
    QString checked;
    for (auto* button : view.findChildren<QPushButton*>()) {
        if (button->isCheckable()) {
            names << button->text();
            if (button->isChecked()) {
                checked = button->text();
            }
        }
    }
    return {names, checked};
}

} // namespace

class MenuBarViewTests : public QObject {
    Q_OBJECT

private slots:
    void bannersAppearAndDisappearWithTheModel() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MenuBarView view(*fixture.adapter, {});
        view.show();
        fixture.nextPoll(62, 60);
        const QString ownership = QStringLiteral("Monitoring only — another app owns fan control");
        const QString critical = QStringLiteral("Critical die override — both fans at maximum");
        QVERIFY(!bannerShown(view, ownership));
        QVERIFY(!bannerShown(view, critical));

        model.setFanControlOwnership(FanControlOwnership::anotherApp);
        fixture.settle();
        QVERIFY(bannerShown(view, ownership));
        model.setFanControlOwnership(FanControlOwnership::quorvane);
        fixture.settle();
        QVERIFY(!bannerShown(view, ownership));

        fixture.nextPoll(62, 60, 110);
        QVERIFY(model.criticalThermalOverrideActive());
        QVERIFY(bannerShown(view, critical));

        model.activate(FanPreset::fullBlast);
        fixture.processes.processes.push_back({4242, std::string("/usr/sbin/mbpfan")});
        fixture.nextPoll(62, 60);
        QVERIFY(model.activeConflictMessage());
        QVERIFY(bannerShown(view, QString::fromStdString(*model.activeConflictMessage())));
        fixture.processes.processes.clear();

        model.savePreset(
            FanPreset{.id = UUID::generate(), .name = " ", .lowTemperature = 50, .highTemperature = 40});
        fixture.settle();
        QVERIFY(bannerShown(
            view, QStringLiteral(
                      "That preset has an invalid name, temperature range, hysteresis, or RPM target.")));
    }

    void unverifiedAndFanlessMachinesSayTheyOnlyMonitor() {
        ViewModelFixture unverified;
        unverified.modelIdentifier = "Mac14,6";
        unverified.launch();
        MenuBarView view(*unverified.adapter, {});
        view.show();
        unverified.nextPoll(62, 60);
        QVERIFY(bannerShown(
            view,
            QStringLiteral("Monitoring only — fan control is currently hardware-verified on Mac15,11.")));

        // A closed panel catches up when it opens.
        ViewModelFixture fanless;
        fanless.launch();
        MenuBarView fanlessView(*fanless.adapter, {});
        auto snapshot = fanless.snapshot(50, 50);
        snapshot.fans.clear();
        fanless.pollAndFeed(snapshot);
        fanlessView.show();
        QVERIFY(bannerShown(
            fanlessView,
            QStringLiteral("No controllable fans detected on this Mac — sensor monitoring only.")));
    }

    void presetsAreListedInMenuOrderWithTheActiveOneChecked() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MenuBarView view(*fixture.adapter, {});
        view.show();
        fixture.nextPoll(62, 60);

        QStringList expected;
        for (const auto& preset : model.presetMenu()) {
            expected << QString::fromStdString(preset.name);
        }
        auto [names, checked] = presetRows(view);
        QCOMPARE(names, expected);
        QCOMPARE(checked, QStringLiteral("Apple Default"));
        // Screen readers hear which one is active, not only see a check mark.
        QCOMPARE(findButton(view, QStringLiteral("Apple Default"))->accessibleName(),
                 QStringLiteral("Apple Default, active"));
        QCOMPARE(findButton(view, QStringLiteral("Smart Auto"))->accessibleName(),
                 QStringLiteral("Smart Auto"));

        findButton(view, QStringLiteral("Smart Auto"))->click();
        fixture.settle();
        QCOMPARE(QString::fromStdString(model.activePreset().name), QStringLiteral("Smart Auto"));
        QTRY_COMPARE(presetRows(view).second, QStringLiteral("Smart Auto"));
        QCOMPARE(findButton(view, QStringLiteral("Smart Auto"))->accessibleDescription(),
                 QStringLiteral("Active preset"));
    }

    void panelCutsNothingOffAtItsDefaultSize() {
        ViewModelFixture fixture;
        fixture.launch();
        QScrollArea window;
        window.setWidgetResizable(true);
        auto* view = new MenuBarView(*fixture.adapter, {});
        window.setWidget(view);
        window.resize(MenuBarView::defaultWidth, MenuBarView::defaultHeight);
        view->setHistoryExpanded(true);
        window.show();
        for (int poll = 0; poll < 3; ++poll) {
            fixture.nextPoll(62, 60);
        }
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();

        for (auto* label : view->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(view) || label->text().isEmpty()) {
                continue;
            }
            if (label->wordWrap()) {
                QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->text()));
            } else {
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
            }
        }
        for (auto* picker : view->findChildren<QComboBox*>()) {
            QComboBox whole;
            whole.setSizeAdjustPolicy(QComboBox::AdjustToContents);
            whole.addItem(picker->currentText());
            QVERIFY2(picker->width() >= whole.sizeHint().width(), qPrintable(picker->currentText()));
        }
    }

    void presetActionsCallTheModel() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        MenuBarView view(*fixture.adapter, {});
        view.show();
        model.createCustomPreset();
        fixture.settle();
        const auto custom = model.customPresets().back();
        const auto count = model.customPresets().size();

        // The last Duplicate belongs to the user's preset, the last row.
        QList<QAbstractButton*> duplicates;
        for (auto* button : view.findChildren<QAbstractButton*>()) {
            if (button->text() == QStringLiteral("Duplicate")) {
                duplicates << button;
            }
        }
        duplicates.back()->click();
        fixture.settle();
        QCOMPARE(model.customPresets().size(), count + 1);
        QCOMPARE(model.customPresets().back().name, custom.name + " Copy");

        QTRY_VERIFY(findButton(view, QStringLiteral("Delete")) != nullptr);
        findButton(view, QStringLiteral("Delete"))->click();
        QVERIFY(view.deletionConfirmation() != nullptr);
        QCOMPARE(view.presetPendingDeletion(), std::optional<UUID>(custom.id));
        findButton(*view.deletionConfirmation(), QStringLiteral("Cancel"))->click();
        fixture.settle();
        QCOMPARE(model.customPresets().size(), count + 1);
        QVERIFY(!view.presetPendingDeletion());

        findButton(view, QStringLiteral("Delete"))->click();
        findButton(*view.deletionConfirmation(), QStringLiteral("Delete"))->click();
        fixture.settle();
        QCOMPARE(model.customPresets().size(), count);
        for (const auto& preset : model.customPresets()) {
            QVERIFY(preset.id != custom.id);
        }
    }

    void infoButtonExplainsThePresetAndTheHistoryExpandsAndCollapses() {
        ViewModelFixture fixture;
        fixture.launch();
        MenuBarView view(*fixture.adapter, {});
        view.show();
        auto buttons = view.findChildren<PresetInfoButton*>();
        QVERIFY(!buttons.isEmpty());
        buttons.front()->click();
        QVERIFY(buttons.front()->popover() != nullptr);
        QVERIFY(buttons.front()->popover()->description().startsWith(
            QStringLiteral("Hands fan control back to macOS")));

        QVERIFY(!view.isHistoryExpanded());
        findButton(view, QStringLiteral("Expand session chart"))->click();
        QVERIFY(view.isHistoryExpanded());
        findButton(view, QStringLiteral("Collapse session chart"))->click();
        QVERIFY(!view.isHistoryExpanded());
        findButton(view, QStringLiteral("View full session history"))->click();
        QVERIFY(view.isHistoryExpanded());
    }

    void setupPromptsAndFooterCallWhatTheyName() {
        ViewModelFixture fixture;
        fixture.registration.currentStatus = 0;
        fixture.defaults.setInteger("supervisedFanTestProtocolVersion", 0);
        auto& model = fixture.launch();
        std::map<QString, int> calls;
        const auto counted = [&calls](const char* key) {
            return [&calls, key] {
                ++calls[QString::fromUtf8(key)];
            };
        };
        DesktopActions actions{.openDashboard = counted("dashboard"),
                               .openSensors = counted("sensors"),
                               .openSettings = counted("settings"),
                               .checkForUpdates = counted("updates"),
                               .quit = counted("quit")};
        MenuBarView view(*fixture.adapter, actions);
        view.show();
        auto unregistered = fixture.snapshot(62, 60);
        unregistered.helperState = HelperInstallState::notRegistered;
        fixture.pollAndFeed(unregistered);

        QVERIFY(showsText(
            view, QStringLiteral("One-time setup: approve the Quorvane helper as an administrator.")));
        QVERIFY(showsText(view, QStringLiteral("Required once before manual presets are enabled.")));
        findButton(view, QStringLiteral("Install and Request Approval"))->click();
        fixture.settle();
        QCOMPARE(fixture.registration.registerCalls, 1);
        QCOMPARE(model.helperState(), HelperInstallState::enabled);
        QVERIFY(!showsText(
            view, QStringLiteral("One-time setup: approve the Quorvane helper as an administrator.")));

        findButton(view, QStringLiteral("Run Supervised Fan Test…"))->click();
        fixture.settle();
        QVERIFY(model.isBusy() || model.supervisedTestPassed());

        for (const auto& [text, key] :
             {std::pair{"Open Dashboard", "dashboard"}, std::pair{"Temperature Sensors", "sensors"},
              std::pair{"Settings & Helper…", "settings"}, std::pair{"Check for Updates…", "updates"},
              std::pair{"Quit", "quit"}}) {
            findButton(view, QString::fromUtf8(text))->click();
            QCOMPARE(calls[QString::fromUtf8(key)], 1);
        }
    }
};

QTEST_MAIN(MenuBarViewTests)
#include "MenuBarViewTests.moc"
