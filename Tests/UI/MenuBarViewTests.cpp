#include "Platform/Updater.hpp"
#include "UI/MenuBarView.hpp"
#include "UI/PresetInfoButton.hpp"
#include "UI/PresetInfoPopover.hpp"
#include "UI/StatusItem.hpp"
#include "UI/TrayHostWait.hpp"
#include "UI/UpdateManager.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/ViewTexts.hpp"
#include "UI/WidgetSearch.hpp"

#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

struct FakeUpdater final : Updater {
    bool ready = false;
    int checks = 0;
    void start() override {}
    bool canCheckForUpdates() override { return ready; }
    void checkForUpdates() override { ++checks; }
};

} // namespace

class MenuBarViewTests : public QObject {
    Q_OBJECT

private slots:
    void bannersAppearAndDisappearWithTheModel() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        auto view = fixture.show<MenuBarView>();
        fixture.nextPoll(62, 60);
        const QString ownership = u"Monitoring only — another app owns fan control"_s;
        const QString critical = u"Critical die override — both fans at maximum"_s;
        QVERIFY(!showsText<Banner>(*view, ownership));
        QVERIFY(!showsText<Banner>(*view, critical));

        model.setFanControlOwnership(FanControlOwnership::anotherApp);
        fixture.settle();
        QVERIFY(showsText<Banner>(*view, ownership));
        model.setFanControlOwnership(FanControlOwnership::quorvane);
        fixture.settle();
        QVERIFY(!showsText<Banner>(*view, ownership));

        fixture.nextPoll(62, 60, 110);
        QVERIFY(model.criticalThermalOverrideActive());
        QVERIFY(showsText<Banner>(*view, critical));

        model.activate(FanPreset::fullBlast);
        fixture.processes.processes.push_back({4242, std::string("/usr/sbin/mbpfan")});
        fixture.nextPoll(62, 60);
        QVERIFY(model.activeConflictMessage());
        QVERIFY(showsText<Banner>(*view, QString::fromStdString(*model.activeConflictMessage())));
    }

    void unverifiedAndFanlessMachinesSayTheyOnlyMonitor() {
        ViewModelFixture unverified;
        unverified.modelIdentifier = "Mac14,6";
        auto view = unverified.show<MenuBarView>();
        unverified.nextPoll(62, 60);
        QVERIFY(showsText<Banner>(
            *view, u"Monitoring only — fan control is currently hardware-verified on Mac15,11."_s));

        // A closed panel catches up when it opens.
        ViewModelFixture fanless;
        fanless.launch();
        MenuBarView fanlessView(*fanless.adapter, {});
        auto snapshot = fanless.snapshot(50, 50);
        snapshot.fans.clear();
        fanless.pollAndFeed(snapshot);
        fanlessView.show();
        QVERIFY(showsText<Banner>(fanlessView,
                                  u"No controllable fans detected on this Mac — sensor monitoring only."_s));
    }

    void presetRowsShowTheActiveOneExplainThemselvesAndTheHistoryExpands() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        auto view = fixture.show<MenuBarView>();
        fixture.nextPoll(62, 60);

        // Screen readers hear which one is active, not only see a check mark.
        auto* active = findButton(*view, u"Apple Default"_s);
        auto* smartAuto = findButton(*view, u"Smart Auto"_s);
        QVERIFY(active->isChecked() && !smartAuto->isChecked());
        QVERIFY(findButton(*view, u"30–50 °C Cooling"_s)); // the order is the model's menu order
        QCOMPARE(active->accessibleName(), u"Apple Default, active"_s);
        QCOMPARE(smartAuto->accessibleName(), u"Smart Auto"_s);

        smartAuto->click();
        fixture.settle();
        QCOMPARE(QString::fromStdString(model.activePreset().name), u"Smart Auto"_s);
        QTRY_VERIFY(findButton(*view, u"Smart Auto"_s)->isChecked());
        QCOMPARE(findButton(*view, u"Smart Auto"_s)->accessibleDescription(), u"Active preset"_s);

        // The info button explains a preset; the history expands and collapses.
        auto buttons = view->findChildren<PresetInfoButton*>();
        QVERIFY(!buttons.isEmpty());
        buttons.front()->click();
        QVERIFY(buttons.front()->popover() != nullptr);
        QVERIFY(buttons.front()->popover()->description().startsWith(u"Hands fan control back to macOS"_s));

        QVERIFY(!view->isHistoryExpanded());
        findButton(*view, u"Expand session chart"_s)->click();
        QVERIFY(view->isHistoryExpanded());
        findButton(*view, u"Collapse session chart"_s)->click();
        QVERIFY(!view->isHistoryExpanded());
        findButton(*view, u"View full session history"_s)->click();
        QVERIFY(view->isHistoryExpanded());
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

    void duplicateActsOnItsOwnRow() {
        ViewModelFixture fixture;
        auto& model = fixture.launch();
        auto view = fixture.show<MenuBarView>();
        model.createCustomPreset();
        fixture.settle();
        const auto custom = model.customPresets().back();
        const auto count = model.customPresets().size();

        // The last Duplicate belongs to the user's preset, the last row.
        QList<QAbstractButton*> duplicates;
        for (auto* button : view->findChildren<QAbstractButton*>()) {
            if (button->text() == u"Duplicate"_s) {
                duplicates << button;
            }
        }
        duplicates.back()->click();
        fixture.settle();
        QCOMPARE(model.customPresets().size(), count + 1);
        QCOMPARE(model.customPresets().back().name, custom.name + " Copy");
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
        auto view = fixture.show<MenuBarView>(actions);
        auto unregistered = fixture.snapshot(62, 60);
        unregistered.helperState = HelperInstallState::notRegistered;
        fixture.pollAndFeed(unregistered);

        QVERIFY(showsText(*view, u"One-time setup: approve the Quorvane helper as an administrator."_s));
        QVERIFY(showsText(*view, u"Required once before manual presets are enabled."_s));
        findButton(*view, u"Install and Request Approval"_s)->click();
        fixture.settle();
        QCOMPARE(fixture.registration.registerCalls, 1);
        QCOMPARE(model.helperState(), HelperInstallState::enabled);
        QVERIFY(!showsText(*view, u"One-time setup: approve the Quorvane helper as an administrator."_s));

        findButton(*view, u"Run Supervised Fan Test…"_s)->click();
        fixture.settle();
        QVERIFY(model.supervisedTestPassed());

        for (const auto& [text, key] :
             {std::pair{"Open Dashboard", "dashboard"}, std::pair{"Temperature Sensors", "sensors"},
              std::pair{"Settings & Helper…", "settings"}, std::pair{"Check for Updates…", "updates"},
              std::pair{"Quit", "quit"}}) {
            findButton(*view, QString::fromUtf8(text))->click();
            QCOMPARE(calls[QString::fromUtf8(key)], 1);
        }
    }

    // Qt is asked only once the host is up or the wait is over, as it keeps its first answer.
    void trayHostWaitAsksQtOnceWhenTheHostComesOrTheWaitEnds_data() {
        QTest::addColumn<int>("hostAtCheck");
        QTest::addColumn<bool>("qtAnswer");
        QTest::addColumn<QString>("expectedLog");
        QTest::newRow("host up at start") << 1 << true << "hQ=1";
        QTest::newRow("host comes on the third check") << 3 << true << "hhhQ=1";
        QTest::newRow("no host, no tray") << 0 << false << "hhhhQ=0";
        QTest::newRow("no host, an XEmbed tray") << 0 << true << "hhhhQ=1";
    }
    void trayHostWaitAsksQtOnceWhenTheHostComesOrTheWaitEnds() {
        QFETCH(int, hostAtCheck);
        QFETCH(bool, qtAnswer);
        QFETCH(QString, expectedLog);
        QString log;
        int hostChecks = 0;
        TrayHostWait wait({.hostReady =
                               [&] {
                                   log += 'h';
                                   return ++hostChecks == hostAtCheck;
                               },
                           .trayAvailable =
                               [&] {
                                   log += 'Q';
                                   return qtAnswer;
                               }},
                          1, 4, [&](bool tray) { log += tray ? "=1" : "=0"; });
        QTRY_VERIFY(log.contains('='));
        QTest::qWait(20);
        QCOMPARE(log, expectedLog);
    }

    void withoutATrayThePanelWindowCarriesTheTitle() {
        ViewModelFixture fixture;
        fixture.launch();
        QWidget panel;
        StatusItem item(*fixture.adapter, panel, {}, false);
        QVERIFY(!item.hasTray());
        QCOMPARE(panel.windowTitle(), u"Fan"_s);

        fixture.nextPoll(62.4, 60.2);
        QCOMPARE(item.title(), panel.windowTitle());
        QCOMPARE(item.iconText(), u"62°"_s);

        item.togglePanel();
        QVERIFY(panel.isVisible());
        item.togglePanel();
        QVERIFY(!panel.isVisible());
    }

    void trayPanelClosesOnAClickOutsideItAndTheMenuOpensTheSensors() {
        ViewModelFixture fixture;
        fixture.launch();
        QWidget panel;
        auto* inside = new QPushButton(u"inside"_s, &panel);
        int sensorWindows = 0;
        StatusItem item(*fixture.adapter, panel,
                        DesktopActions{.openSensors =
                                           [&] {
                                               ++sensorWindows;
                                           }},
                        true);
        for (auto* action : item.menu()->actions()) {
            if (action->text() == u"Temperature Sensors"_s) {
                action->trigger();
            }
        }
        QCOMPARE(sensorWindows, 1);

        QWidget elsewhere;
        elsewhere.show();
        item.togglePanel();
        QVERIFY(panel.isVisible());
        QTest::mouseClick(inside, Qt::LeftButton);
        QVERIFY(panel.isVisible());
        QTest::mouseClick(&elsewhere, Qt::LeftButton);
        QVERIFY(!panel.isVisible());

        // Another window taking the focus closes it too.
        item.togglePanel();
        QVERIFY(panel.isVisible());
        elsewhere.activateWindow();
        QTRY_VERIFY(!panel.isVisible());
    }

    void checkingForUpdatesWithoutAFeedOnlyExplains() {
        FakeUpdater updater;
        QStringList alerts;
        UpdateManager manager(
            updater, [&](const QString& message, const QString& text) { alerts << message << text; });
        manager.checkForUpdates();
        QCOMPARE(alerts, (QStringList{u"Unable to Check for Updates"_s,
                                      u"Quorvane's updater is not ready. Check your internet "
                                      "connection and try again."_s}));
        QCOMPARE(updater.checks, 0);

        updater.ready = true;
        manager.checkForUpdates();
        QCOMPARE(updater.checks, 1);
        QCOMPARE(alerts.size(), 2);
    }

    void presetDescriptionsFollowTheKindAndTheCurve() {
        QVERIFY(presetDescription(FanPreset::systemDefault).startsWith(u"Hands fan control back"_s));
        QVERIFY(presetDescription(FanPreset::automatic).contains(u"30-second cooldown"_s));
        QVERIFY(presetDescription(FanPreset::fullBlast).startsWith(u"All fans at their hardware maximum"_s));
        QCOMPARE(presetDescription(FanPreset::batterySaver),
                 u"Uses each fan's CPU/GPU zone input: minimum RPM through 90 °C and full speed at 100 "
                 "°C. This noise-first curve runs hotter; the 105 °C raw-die safety override still "
                 "forces maximum cooling."_s);
        QVERIFY(presetDescription(FanPreset::cpuCoreDefault)
                    .endsWith(u" — an aggressive cooling curve that will often run near maximum on a "
                              "warm Mac."_s));

        FanPreset custom{.id = UUID::generate(),
                         .name = "Mine",
                         .strategy = ControlStrategy::cpuCoreAverage,
                         .lowTemperature = 44.6,
                         .highTemperature = 80.2};
        QCOMPARE(presetDescription(custom), u"Temperature curve tracking each fan's CPU/GPU zone input: "
                                            "minimum RPM below 45 °C, full speed at 80 °C."_s);
        custom.strategy = ControlStrategy::constantRPM;
        custom.constantRPM = 2400;
        QVERIFY(presetDescription(custom).startsWith(u"Holds a constant 2400 RPM"_s));

        QCOMPARE(rawThermalTooltip(101.26, std::nullopt, 88),
                 u"Secondary raw values — CPU hotspot: 101.3 °C, GPU hotspot: unavailable, P-core max: "
                 "88.0 °C. Raw hotspots do not drive normal curves, but 105 °C triggers the critical "
                 "safety override."_s);
    }
};

QTEST_MAIN(MenuBarViewTests)
#include "MenuBarViewTests.moc"
