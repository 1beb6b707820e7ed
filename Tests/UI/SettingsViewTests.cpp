#include "UI/SettingsView.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;

namespace {

QString text(const QWidget& root, const char* label) {
    return child<QLabel>(root, label)->text();
}

// The settings window over a launched model, with the desktop actions counted.
struct SettingsHarness {
    SettingsHarness() {
        fixture.launch();
        fixture.nextPoll(62, 60);
        DesktopActions actions;
        actions.checkForUpdates = [this] {
            ++updateChecks;
        };
        view = std::make_unique<SettingsView>(*fixture.adapter, actions);
    }
    AppModel& model() { return *fixture.model; }

    ViewModelFixture fixture;
    int updateChecks = 0;
    std::unique_ptr<SettingsView> view;
};

} // namespace

class SettingsViewTests : public QObject {
    Q_OBJECT

private slots:
    void monitoringControlsChangeTheModel() {
        SettingsHarness h;
        auto& view = *h.view;
        QCOMPARE(
            text(view, "ownershipEffect"),
            QStringLiteral("Quorvane may apply the selected preset when no competing controller is active."));

        auto* owner = child<QComboBox>(view, "ownership");
        QCOMPARE(owner->currentText(), QStringLiteral("Quorvane controls fans"));
        owner->setCurrentIndex(owner->findText(QStringLiteral("Another app controls fans")));
        QCOMPARE(h.model().fanControlOwnership(), FanControlOwnership::anotherApp);
        h.fixture.settle();
        QCOMPARE(text(view, "ownershipEffect"),
                 QStringLiteral(
                     "Monitoring only. Quorvane reads temperatures and RPM but performs no fan writes."));

        child<QCheckBox>(view, "startAtLogin")->click();
        QVERIFY(h.fixture.launchAtLogin.enabled);
        // The box shows what the login-item service says, not what was clicked.
        h.fixture.launchAtLogin.enabled = false;
        h.model().setLaunchAtLogin(false);
        h.fixture.settle();
        QVERIFY(!child<QCheckBox>(view, "startAtLogin")->isChecked());
        // A refused registration unticks the box again and says why.
        h.fixture.launchAtLogin.failure = "Autostart folder is read-only";
        child<QCheckBox>(view, "startAtLogin")->click();
        h.fixture.settle();
        QVERIFY(!child<QCheckBox>(view, "startAtLogin")->isChecked());
        QCOMPARE(h.model().visibleError(), std::optional<std::string>("Autostart folder is read-only"));
    }

    void pollingIntervalAppliesWhenTheDragEnds() {
        SettingsHarness h;
        auto* slider = child<QSlider>(*h.view, "pollingInterval");
        QCOMPARE(text(*h.view, "pollingLabel"), QStringLiteral("Apply 2.0 second interval"));

        slider->setSliderDown(true);
        slider->setValue(7);
        QCOMPARE(text(*h.view, "pollingLabel"), QStringLiteral("Apply 3.5 second interval"));
        h.fixture.nextPoll(62, 60);
        QCOMPARE(h.model().pollingInterval(), 2.0);
        QCOMPARE(slider->value(), 7);

        slider->setSliderDown(false);
        QCOMPARE(h.model().pollingInterval(), 3.5);
        QCOMPARE(h.fixture.defaults.number("pollingInterval"), std::optional(3.5));

        slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(h.fixture.defaults.number("pollingInterval"), std::optional(4.0));
    }

    void overheatAlertControlsPersistAndFollowTheModel() {
        SettingsHarness h;
        auto& view = *h.view;
        child<QCheckBox>(view, "alertsEnabled")->click();
        QVERIFY(h.model().overheatAlertsEnabled());
        QCOMPARE(h.fixture.defaults.boolean("overheatAlertsEnabled"), std::optional(true));

        QCOMPARE(text(view, "thresholdValue"), QStringLiteral("85"));
        child<QSlider>(view, "threshold")->setValue(72);
        QCOMPARE(h.model().overheatThreshold(), 72.0);
        QCOMPARE(h.fixture.defaults.number("overheatThreshold"), std::optional(72.0));
        QCOMPARE(text(view, "thresholdValue"), QStringLiteral("72"));

        h.model().setOverheatThreshold(96.4);
        h.fixture.settle();
        QCOMPARE(child<QSlider>(view, "threshold")->value(), 96);
        QCOMPARE(text(view, "thresholdValue"), QStringLiteral("96"));
        QCOMPARE(h.model().overheatThreshold(), 96.4);

        const auto delivered = h.fixture.notifications.bodies.size();
        findButton(view, QStringLiteral("Send Test Notification"))->click();
        h.fixture.settle();
        QCOMPARE(h.fixture.notifications.bodies.size(), delivered + 1);
    }

    void helperSectionFollowsRegistrationAndTest() {
        SettingsHarness h;
        auto& view = *h.view;
        QCOMPARE(text(view, "helperStatus"), QStringLiteral("Approved"));
        QCOMPARE(text(view, "supervisedTest"), QStringLiteral("Passed"));
        QCOMPARE(text(view, "detectedWriter"), QStringLiteral("Inactive (monitoring only)"));
        auto* install = findButton(view, QStringLiteral("Install and Request Approval"));
        QVERIFY2(install->isHidden(), "nothing to install once the helper is approved");

        findButton(view, QStringLiteral("Uninstall"))->click();
        h.fixture.settle();
        QCOMPARE(h.fixture.registration.unregisterCalls, 1);
        QCOMPARE(text(view, "helperStatus"), QStringLiteral("Not installed"));
        QVERIFY(!install->isHidden());

        h.fixture.registration.statusAfterRegister = 2;
        findButton(view, QStringLiteral("Install and Request Approval"))->click();
        QVERIFY2(!install->isEnabled(), "one request at a time");
        h.fixture.settle();
        QVERIFY(install->isEnabled());
        QCOMPARE(text(view, "helperStatus"), QStringLiteral("Approval required"));
        QCOMPARE(h.fixture.loginItemsOpened, 1);

        // No desktop here has a pane for system services: no button pretends to open one.
        for (auto* button : view.findChildren<QPushButton*>()) {
            QVERIFY(button->text() != QStringLiteral("Open Login Items"));
        }
        findButton(view, QStringLiteral("Check for Updates…"))->click();
        QCOMPARE(h.updateChecks, 1);
        QVERIFY(!text(view, "version").isEmpty());
    }

    void supervisedTestNotYetPassedReadsRequired() {
        ViewModelFixture fixture;
        fixture.defaults.setInteger("supervisedFanTestProtocolVersion", 0);
        fixture.launch();
        SettingsView view(*fixture.adapter, {});
        QCOMPARE(text(view, "supervisedTest"), QStringLiteral("Required"));
    }

    void emergencyResetHandsTheActivePresetBack() {
        SettingsHarness h;
        h.model().activate(FanPreset::fullBlast);
        h.fixture.settle();
        QCOMPARE(h.model().activePreset().id, FanPreset::fullBlast.id);

        findButton(*h.view, QStringLiteral("Return All Fans to Automatic"))->click();
        h.fixture.settle();
        QCOMPARE(h.model().activePreset().id, FanPreset::systemDefault.id);
        QVERIFY(!h.fixture.engine->activeSession());
    }

    void presetsRoundTripThroughAFileAndABadFileShowsWhy() {
        SettingsHarness h;
        QTemporaryDir directory;
        QString nextFile;
        std::vector<SettingsView::FileRequest> requests;
        h.view->setFileChooser([&](SettingsView::FileRequest request, auto chosen) {
            requests.push_back(request);
            chosen(nextFile);
        });
        h.model().createCustomPreset();
        h.fixture.settle();
        const auto before = h.model().customPresets();

        nextFile = directory.filePath(QStringLiteral("Quorvane-Presets.json"));
        findButton(*h.view, QStringLiteral("Export Presets…"))->click();
        findButton(*h.view, QStringLiteral("Import Presets…"))->click();
        h.fixture.settle();
        QCOMPARE(requests, (std::vector{SettingsView::FileRequest::exportPresets,
                                        SettingsView::FileRequest::importPresets}));
        const auto& after = h.model().customPresets();
        QCOMPARE(after.size(), 2 * before.size());
        for (std::size_t k = 0; k < before.size(); ++k) {
            QCOMPARE(after[before.size() + k].name, before[k].name);
            QVERIFY(after[before.size() + k].id != before[k].id);
        }
        QVERIFY(child<QLabel>(*h.view, "error")->isHidden());

        nextFile = directory.filePath(QStringLiteral("future.json"));
        QFile future(nextFile);
        QVERIFY(future.open(QIODevice::WriteOnly));
        future.write(R"({"version": 2, "presets": []})");
        future.close();
        findButton(*h.view, QStringLiteral("Import Presets…"))->click();
        h.fixture.settle();
        QCOMPARE(h.model().customPresets().size(), after.size());
        QVERIFY(!child<QLabel>(*h.view, "error")->isHidden());
        QCOMPARE(text(*h.view, "error"), QString::fromStdString(*h.model().visibleError()));
        QCOMPARE(text(*h.view, "error"),
                 QStringLiteral("That preset file uses an unsupported format version."));
    }
};

QTEST_MAIN(SettingsViewTests)
#include "SettingsViewTests.moc"
