#include "UI/AppModelAdapter.hpp"
#include "UI/FanLabels.hpp"
#include "UI/ViewModelFixture.hpp"

#include <QSignalSpy>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;

class AppModelAdapterTests : public QObject {
    Q_OBJECT

private slots:
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

    void fansAreNamedByIndex() {
        QCOMPARE(fanLabel(0), QStringLiteral("Left Fan (F0)"));
        QCOMPARE(fanLabel(1), QStringLiteral("Right Fan (F1)"));
        QCOMPARE(fanLabel(2), QStringLiteral("Fan 2"));
        QCOMPARE(fanZoneLabel(0), QStringLiteral("Left zone"));
        QCOMPARE(fanZoneLabel(1), QStringLiteral("Right zone"));
        QCOMPARE(fanZoneLabel(3), QStringLiteral("Fan 3 zone"));
        QCOMPARE(formatCelsius(std::nullopt), QStringLiteral("unavailable"));
        QCOMPARE(formatCelsius(61.26), QStringLiteral("61.3 °C"));
    }
};

QTEST_MAIN(AppModelAdapterTests)
#include "AppModelAdapterTests.moc"
