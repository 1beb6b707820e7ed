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
using namespace Qt::StringLiterals;

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
        QCOMPARE(text(*view, "ownershipEffect"),
                 u"Quorvane may apply the selected preset when no competing controller is active."_s);

        auto* owner = child<QComboBox>(*view, "ownership");
        QCOMPARE(owner->currentText(), u"Quorvane controls fans"_s);
        owner->setCurrentIndex(owner->findText(u"Another app controls fans"_s));
        QCOMPARE(fixture->model->fanControlOwnership(), FanControlOwnership::anotherApp);
        fixture->settle();
        QCOMPARE(text(*view, "ownershipEffect"),
                 u"Monitoring only. Quorvane reads temperatures and RPM but performs no fan writes."_s);

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
        QCOMPARE(text(*view, "pollingLabel"), u"Apply 2.0 second interval"_s);

        slider->setSliderDown(true);
        slider->setValue(7);
        QCOMPARE(text(*view, "pollingLabel"), u"Apply 3.5 second interval"_s);
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

        QCOMPARE(text(*view, "thresholdValue"), u"85"_s);
        child<QSlider>(*view, "threshold")->setValue(72);
        QCOMPARE(fixture->model->overheatThreshold(), 72.0);
        QCOMPARE(text(*view, "thresholdValue"), u"72"_s);

        fixture->model->setOverheatThreshold(96.4);
        fixture->settle();
        QCOMPARE(child<QSlider>(*view, "threshold")->value(), 96);
        QCOMPARE(text(*view, "thresholdValue"), u"96"_s);

        const auto delivered = fixture->notifications.bodies.size();
        findButton(*view, u"Send Test Notification"_s)->click();
        fixture->settle();
        QCOMPARE(fixture->notifications.bodies.size(), delivered + 1);
    }

    void helperSectionFollowsRegistrationAndTest() {
        QCOMPARE(text(*view, "helperStatus"), u"Approved"_s);
        QCOMPARE(text(*view, "supervisedTest"), u"Passed"_s);
        QCOMPARE(text(*view, "detectedWriter"), u"Inactive (monitoring only)"_s);
        auto* install = findButton(*view, u"Install and Request Approval"_s);
        QVERIFY2(install->isHidden(), "nothing to install once the helper is approved");

        findButton(*view, u"Uninstall"_s)->click();
        fixture->settle();
        QCOMPARE(fixture->registration.unregisterCalls, 1);
        QCOMPARE(text(*view, "helperStatus"), u"Not installed"_s);
        QVERIFY(!install->isHidden());

        fixture->registration.statusAfterRegister = 2;
        findButton(*view, u"Install and Request Approval"_s)->click();
        QVERIFY2(!install->isEnabled(), "one request at a time");
        fixture->settle();
        QVERIFY(install->isEnabled());
        QCOMPARE(text(*view, "helperStatus"), u"Approval required"_s);
        QCOMPARE(fixture->loginItemsOpened, 1);

        // No desktop here has a pane for system services: no button pretends to open one.
        QVERIFY(!findButton(*view, u"Open Login Items"_s));
        findButton(*view, u"Check for Updates…"_s)->click();
        QCOMPARE(updateChecks, 1);
        QCOMPARE(text(*view, "version"), QStringLiteral(QUORVANE_VERSION));
    }

    void supervisedTestNotYetPassedReadsRequired() {
        ViewModelFixture untested;
        untested.defaults.setInteger("supervisedFanTestProtocolVersion", 0);
        QCOMPARE(text(*untested.show<SettingsView>(), "supervisedTest"), u"Required"_s);
    }

    void emergencyResetHandsTheActivePresetBack() {
        fixture->model->activate(FanPreset::fullBlast);
        fixture->settle();
        QCOMPARE(fixture->model->activePreset().id, FanPreset::fullBlast.id);

        findButton(*view, u"Return All Fans to Automatic"_s)->click();
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

        nextFile = directory.filePath(u"Quorvane-Presets.json"_s);
        findButton(*view, u"Export Presets…"_s)->click();
        findButton(*view, u"Import Presets…"_s)->click();
        fixture->settle();
        QCOMPARE(requests, (std::vector{SettingsView::FileRequest::exportPresets,
                                        SettingsView::FileRequest::importPresets}));
        QCOMPARE(fixture->model->customPresets().size(), 2 * before.size()); // what was exported came back
        QVERIFY(child<QLabel>(*view, "error")->isHidden());

        nextFile = directory.filePath(u"future.json"_s);
        std::ofstream(nextFile.toStdString()) << R"({"version": 2, "presets": []})";
        findButton(*view, u"Import Presets…"_s)->click();
        fixture->settle();
        QVERIFY(!child<QLabel>(*view, "error")->isHidden());
        QCOMPARE(text(*view, "error"), u"That preset file uses an unsupported format version."_s);
    }
};

QTEST_MAIN(SettingsViewTests)
#include "SettingsViewTests.moc"
