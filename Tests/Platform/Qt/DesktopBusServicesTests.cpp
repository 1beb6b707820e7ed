#include "Platform/Qt/FreedesktopNotificationCenter.hpp"
#include "Platform/Qt/QtLogindPowerMonitor.hpp"
#include "Support/StandInLogind.hpp"

#include <QDBusConnection>
#include <QtTest>

using namespace quorvane;
using quorvane::testing::PrivateBus;

namespace {

// Stands in for the desktop's notification service and remembers what it was asked to show.
class FakeNotificationService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown;

public slots:
    QString GetServerInformation() { return QStringLiteral("fake"); }
    uint Notify(const QString& application, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        shown << application + ": " + summary + ": " + body;
        return static_cast<uint>(shown.size());
    }
};

} // namespace

class DesktopBusServicesTests : public QObject {
    Q_OBJECT

private slots:
    void notificationsNeedARunningServiceAndCarryTitleAndBody() {
        PrivateBus bus;
        if (!bus.running()) {
            QSKIP("dbus-daemon is not available");
        }
        FreedesktopNotificationCenter center(
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("client")));
        std::optional<bool> granted;
        center.requestAuthorization([&](bool answer, std::optional<std::string>) { granted = answer; });
        QTRY_VERIFY(granted.has_value());
        QVERIFY(!*granted);

        auto serverConnection =
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("server"));
        FakeNotificationService service;
        QVERIFY(serverConnection.registerObject(FreedesktopNotificationCenter::path, &service,
                                                QDBusConnection::ExportAllSlots));
        QVERIFY(serverConnection.registerService(FreedesktopNotificationCenter::service));
        granted.reset();
        center.requestAuthorization([&](bool answer, std::optional<std::string>) { granted = answer; });
        QTRY_VERIFY(granted.has_value());
        QVERIFY(*granted);

        std::optional<std::optional<std::string>> delivered;
        center.deliver("id", "High CPU Temperature",
                       "CPU/GPU thermal signal reached 96.0 °C (threshold 95 °C).",
                       [&](std::optional<std::string> error) { delivered = error; });
        QTRY_VERIFY(delivered.has_value());
        QVERIFY(!delivered->has_value());
        QCOMPARE(service.shown,
                 QStringList{QStringLiteral("Quorvane: High CPU Temperature: CPU/GPU thermal signal "
                                            "reached 96.0 °C (threshold 95 °C).")});
    }

    void sleepWaitsForTheHandBackOfAnActiveSession() {
        PrivateBus bus;
        if (!bus.running()) {
            QSKIP("dbus-daemon is not available");
        }
        const auto failure = quorvane::testing::sleepWaitsForTheHandBack(
            bus,
            [](const std::string& address) {
                return std::make_unique<QtLogindPowerMonitor>(
                    QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("app")));
            },
            [](auto condition) { return QTest::qWaitFor(condition, 10000); });
        QVERIFY2(!failure, failure.value_or("").c_str());
    }
};

QTEST_MAIN(DesktopBusServicesTests)
#include "DesktopBusServicesTests.moc"
