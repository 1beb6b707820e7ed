#include "UI/SettingsView.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <fstream>

using namespace quorvane;
using namespace quorvane::testing;

namespace {

QString text(const QWidget& root, const char* label) {
    return child<QLabel>(root, label)->text();
}

} // namespace

class SettingsViewTests : public QObject {
    Q_OBJECT

    std::unique_ptr<ViewModelFixture> fixture;
    std::unique_ptr<SettingsView> view;
    int updateChecks = 0;

private slots:
    // The settings window over a launched model that has polled once, with the update checks counted.
    void init() {
        fixture = std::make_unique<ViewModelFixture>();
        fixture->launch();
        fixture->nextPoll(62, 60);
        view = std::make_unique<SettingsView>(*fixture->adapter, DesktopActions{.checkForUpdates = [this] {
            ++updateChecks;
        }});
    }
    void cleanup() {
        view.reset();
        fixture.reset();
    }

    void monitoringControlsChangeTheModel() {
        QCOMPARE(
            text(*view, "ownershipEffect"),
            QStringLiteral("Quorvane may apply the selected preset when no competing controller is active."));

        auto* owner = child<QComboBox>(*view, "ownership");
        QCOMPARE(owner->currentText(), QStringLiteral("Quorvane controls fans"));
        owner->setCurrentIndex(owner->findText(QStringLiteral("Another app controls fans")));
        QCOMPARE(fixture->model->fanControlOwnership(), FanControlOwnership::anotherApp);
        fixture->settle();
        QCOMPARE(text(*view, "ownershipEffect"),
                 QStringLiteral(
                     "Monitoring only. Quorvane reads temperatures and RPM but performs no fan writes."));

        child<QCheckBox>(*view, "startAtLogin")->click();
        QVERIFY(fixture->launchAtLogin.enabled);
        // The box shows what the login-item service says, not what was clicked.
        fixture->launchAtLogin.enabled = false;
        fixture->model->setLaunchAtLogin(false);
        fixture->settle();
        QVERIFY(!child<QCheckBox>(*view, "startAtLogin")->isChecked());
        // A refused registration unticks the box again and says why.
        fixture->launchAtLogin.failure = "Autostart folder is read-only";
        child<QCheckBox>(*view, "startAtLogin")->click();
        fixture->settle();
        QVERIFY(!child<QCheckBox>(*view, "startAtLogin")->isChecked());
        QCOMPARE(fixture->model->visibleError(), std::optional<std::string>("Autostart folder is read-only"));
    }

    void pollingIntervalAppliesWhenTheDragEnds() {
        auto* slider = child<QSlider>(*view, "pollingInterval");
        QCOMPARE(text(*view, "pollingLabel"), QStringLiteral("Apply 2.0 second interval"));

        slider->setSliderDown(true);
        slider->setValue(7);
        QCOMPARE(text(*view, "pollingLabel"), QStringLiteral("Apply 3.5 second interval"));
        fixture->nextPoll(62, 60);
        QCOMPARE(fixture->model->pollingInterval(), 2.0);
        QCOMPARE(slider->value(), 7);

        slider->setSliderDown(false);
        QCOMPARE(fixture->model->pollingInterval(), 3.5);
        QCOMPARE(fixture->defaults.number("pollingInterval"), std::optional(3.5));

        slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(fixture->defaults.number("pollingInterval"), std::optional(4.0));
    }

    void overheatAlertControlsPersistAndFollowTheModel() {
        child<QCheckBox>(*view, "alertsEnabled")->click();
        QVERIFY(fixture->model->overheatAlertsEnabled());
        QCOMPARE(fixture->defaults.boolean("overheatAlertsEnabled"), std::optional(true));

        QCOMPARE(text(*view, "thresholdValue"), QStringLiteral("85"));
        child<QSlider>(*view, "threshold")->setValue(72);
        QCOMPARE(fixture->model->overheatThreshold(), 72.0);
        QCOMPARE(fixture->defaults.number("overheatThreshold"), std::optional(72.0));
        QCOMPARE(text(*view, "thresholdValue"), QStringLiteral("72"));

        fixture->model->setOverheatThreshold(96.4);
        fixture->settle();
        QCOMPARE(child<QSlider>(*view, "threshold")->value(), 96);
        QCOMPARE(text(*view, "thresholdValue"), QStringLiteral("96"));
        QCOMPARE(fixture->model->overheatThreshold(), 96.4);

        const auto delivered = fixture->notifications.bodies.size();
        findButton(*view, QStringLiteral("Send Test Notification"))->click();
        fixture->settle();
        QCOMPARE(fixture->notifications.bodies.size(), delivered + 1);
    }

    void helperSectionFollowsRegistrationAndTest() {
        QCOMPARE(text(*view, "helperStatus"), QStringLiteral("Approved"));
        QCOMPARE(text(*view, "supervisedTest"), QStringLiteral("Passed"));
        QCOMPARE(text(*view, "detectedWriter"), QStringLiteral("Inactive (monitoring only)"));
        auto* install = findButton(*view, QStringLiteral("Install and Request Approval"));
        QVERIFY2(install->isHidden(), "nothing to install once the helper is approved");

        findButton(*view, QStringLiteral("Uninstall"))->click();
        fixture->settle();
        QCOMPARE(fixture->registration.unregisterCalls, 1);
        QCOMPARE(text(*view, "helperStatus"), QStringLiteral("Not installed"));
        QVERIFY(!install->isHidden());

        fixture->registration.statusAfterRegister = 2;
        findButton(*view, QStringLiteral("Install and Request Approval"))->click();
        QVERIFY2(!install->isEnabled(), "one request at a time");
        fixture->settle();
        QVERIFY(install->isEnabled());
        QCOMPARE(text(*view, "helperStatus"), QStringLiteral("Approval required"));
        QCOMPARE(fixture->loginItemsOpened, 1);

        // No desktop here has a pane for system services: no button pretends to open one.
        for (auto* button : view->findChildren<QPushButton*>()) {
            QVERIFY(button->text() != QStringLiteral("Open Login Items"));
        }
        findButton(*view, QStringLiteral("Check for Updates…"))->click();
        QCOMPARE(updateChecks, 1);
        QCOMPARE(text(*view, "version"), QStringLiteral(QUORVANE_VERSION));
    }

    void supervisedTestNotYetPassedReadsRequired() {
        ViewModelFixture untested;
        untested.defaults.setInteger("supervisedFanTestProtocolVersion", 0);
        QCOMPARE(text(*untested.show<SettingsView>(), "supervisedTest"), QStringLiteral("Required"));
    }

    void emergencyResetHandsTheActivePresetBack() {
        fixture->model->activate(FanPreset::fullBlast);
        fixture->settle();
        QCOMPARE(fixture->model->activePreset().id, FanPreset::fullBlast.id);

        findButton(*view, QStringLiteral("Return All Fans to Automatic"))->click();
        fixture->settle();
        QCOMPARE(fixture->model->activePreset().id, FanPreset::systemDefault.id);
        QVERIFY(!fixture->engine->activeSession());
    }

    void presetsRoundTripThroughAFileAndABadFileShowsWhy() {
        QTemporaryDir directory;
        QString nextFile;
        std::vector<SettingsView::FileRequest> requests;
        view->setFileChooser([&](SettingsView::FileRequest request, auto chosen) {
            requests.push_back(request);
            chosen(nextFile);
        });
        fixture->model->createCustomPreset();
        fixture->settle();
        const auto before = fixture->model->customPresets();

        nextFile = directory.filePath(QStringLiteral("Quorvane-Presets.json"));
        findButton(*view, QStringLiteral("Export Presets…"))->click();
        findButton(*view, QStringLiteral("Import Presets…"))->click();
        fixture->settle();
        QCOMPARE(requests, (std::vector{SettingsView::FileRequest::exportPresets,
                                        SettingsView::FileRequest::importPresets}));
        QCOMPARE(fixture->model->customPresets().size(), 2 * before.size()); // what was exported came back
        QVERIFY(child<QLabel>(*view, "error")->isHidden());

        nextFile = directory.filePath(QStringLiteral("future.json"));
        std::ofstream(nextFile.toStdString()) << R"({"version": 2, "presets": []})";
        findButton(*view, QStringLiteral("Import Presets…"))->click();
        fixture->settle();
        QVERIFY(!child<QLabel>(*view, "error")->isHidden());
        QCOMPARE(text(*view, "error"),
                 QStringLiteral("That preset file uses an unsupported format version."));
    }
};

QTEST_MAIN(SettingsViewTests)
#include "SettingsViewTests.moc"
