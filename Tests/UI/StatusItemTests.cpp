#include "Platform/Updater.hpp"
#include "UI/StatusItem.hpp"
#include "UI/TrayHostWait.hpp"
#include "UI/UpdateManager.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/ViewTexts.hpp"

#include <QMenu>
#include <QPushButton>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;

namespace {

struct FakeUpdater final : Updater {
    bool ready = false;
    int checks = 0;
    void start() override {}
    bool canCheckForUpdates() override { return ready; }
    void checkForUpdates() override { ++checks; }
};

} // namespace

class StatusItemTests : public QObject {
    Q_OBJECT

private slots:
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
        QCOMPARE(panel.windowTitle(), QStringLiteral("Fan"));

        fixture.nextPoll(62.4, 60.2);
        QVERIFY(panel.windowTitle().startsWith(QStringLiteral("L62° R60° ")));
        QCOMPARE(item.title(), panel.windowTitle());
        QCOMPARE(item.iconText(), QStringLiteral("62°"));

        item.togglePanel();
        QVERIFY(panel.isVisible());
        item.togglePanel();
        QVERIFY(!panel.isVisible());
    }

    void trayPanelClosesOnAClickOutsideItAndTheMenuOpensTheSensors() {
        ViewModelFixture fixture;
        fixture.launch();
        QWidget panel;
        auto* inside = new QPushButton(QStringLiteral("inside"), &panel);
        int sensorWindows = 0;
        StatusItem item(*fixture.adapter, panel,
                        DesktopActions{.openSensors =
                                           [&] {
                                               ++sensorWindows;
                                           }},
                        true);
        for (auto* action : item.menu()->actions()) {
            if (action->text() == QStringLiteral("Temperature Sensors")) {
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

    void titleFollowsTheFans() {
        ViewModelFixture fixture;
        fixture.launch();
        QWidget panel;
        StatusItem item(*fixture.adapter, panel, {}, false);
        auto snapshot = fixture.snapshot(62, 60, 58);
        snapshot.fans[0].actualRPM = snapshot.fans[1].actualRPM = 1900;
        auto zones = std::exchange(snapshot.average->fanZoneReadings, {});
        fixture.pollAndFeed(snapshot);
        QCOMPARE(item.title(), QStringLiteral("58° 1.9k·1.9k")); // the display temperature until zones

        fixture.clock.advance(2000);
        snapshot.fans[0].actualRPM = 1200;
        snapshot.fans[1].actualRPM = 1300;
        // Listed first: the title orders fans by index, not by arrival.
        snapshot.fans.insert(snapshot.fans.begin(), FanInfo{2, 700, 500, 3000, FanMode::automatic, 700});
        snapshot.average->fanZoneReadings = zones;
        snapshot.average->fanZoneReadings.push_back(
            {2, "Rear", 59, "CPU E-cores", {"Te05"}, 59, std::nullopt});
        fixture.pollAndFeed(snapshot);
        QCOMPARE(item.title(), QStringLiteral("L62° R60° F259° 1.2k·1.3k·700"));
        QCOMPARE(panel.windowTitle(), item.title());
    }

    void checkingForUpdatesWithoutAFeedOnlyExplains() {
        FakeUpdater updater;
        QStringList alerts;
        UpdateManager manager(
            updater, [&](const QString& message, const QString& text) { alerts << message << text; });
        manager.checkForUpdates();
        QCOMPARE(alerts, (QStringList{QStringLiteral("Unable to Check for Updates"),
                                      QStringLiteral("Quorvane's updater is not ready. Check your internet "
                                                     "connection and try again.")}));
        QCOMPARE(updater.checks, 0);

        updater.ready = true;
        manager.checkForUpdates();
        QCOMPARE(updater.checks, 1);
        QCOMPARE(alerts.size(), 2);
    }

    void presetDescriptionsFollowTheKindAndTheCurve() {
        QVERIFY(
            presetDescription(FanPreset::systemDefault).startsWith(QStringLiteral("Hands fan control back")));
        QVERIFY(presetDescription(FanPreset::automatic).contains(QStringLiteral("30-second cooldown")));
        QVERIFY(presetDescription(FanPreset::fullBlast)
                    .startsWith(QStringLiteral("All fans at their hardware maximum")));
        QCOMPARE(presetDescription(FanPreset::batterySaver),
                 QStringLiteral(
                     "Uses each fan's CPU/GPU zone input: minimum RPM through 90 °C and full speed at 100 "
                     "°C. This noise-first curve runs hotter; the 105 °C raw-die safety override still "
                     "forces maximum cooling."));
        QVERIFY(presetDescription(FanPreset::cpuCoreDefault)
                    .endsWith(
                        QStringLiteral(" — an aggressive cooling curve that will often run near maximum on a "
                                       "warm Mac.")));

        FanPreset custom{.id = UUID::generate(),
                         .name = "Mine",
                         .strategy = ControlStrategy::cpuCoreAverage,
                         .lowTemperature = 44.6,
                         .highTemperature = 80.2};
        QCOMPARE(presetDescription(custom),
                 QStringLiteral("Temperature curve tracking each fan's CPU/GPU zone input: "
                                "minimum RPM below 45 °C, full speed at 80 °C."));
        custom.strategy = ControlStrategy::constantRPM;
        custom.constantRPM = 2400;
        QVERIFY(presetDescription(custom).startsWith(QStringLiteral("Holds a constant 2400 RPM")));

        QCOMPARE(rawThermalTooltip(101.26, std::nullopt, 88),
                 QStringLiteral(
                     "Secondary raw values — CPU hotspot: 101.3 °C, GPU hotspot: unavailable, P-core max: "
                     "88.0 °C. Raw hotspots do not drive normal curves, but 105 °C triggers the critical "
                     "safety override."));
    }
};

QTEST_MAIN(StatusItemTests)
#include "StatusItemTests.moc"
