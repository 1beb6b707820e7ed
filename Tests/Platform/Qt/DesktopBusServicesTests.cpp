#include "Platform/Qt/FreedesktopNotificationCenter.hpp"
#include "Platform/Qt/QtLogindPowerMonitor.hpp"
#include "Platform/SystemCommand.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace quorvane;

namespace {

// A private message bus for one test; not running without dbus-daemon.
class PrivateBus {
public:
    PrivateBus() {
        const auto started = SystemCommand::run({"dbus-daemon", "--session", "--fork", "--nopidfile",
                                                 "--address=" + address().toStdString(), "--print-pid=1"});
        if (started.exitStatus == 0) {
            daemon_ = std::stoi(started.output);
        }
    }
    ~PrivateBus() {
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
        }
    }
    bool running() const { return daemon_ > 0; }
    QString address() const { return QStringLiteral("unix:path=%1/bus").arg(directory_.path()); }
    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address(), name); }

private:
    QTemporaryDir directory_;
    pid_t daemon_ = 0;
};

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
        FreedesktopNotificationCenter center(bus.connect(QStringLiteral("client")));
        std::optional<bool> granted;
        center.requestAuthorization([&](bool answer, std::optional<std::string>) { granted = answer; });
        QTRY_VERIFY(granted.has_value());
        QVERIFY(!*granted);

        auto serverConnection = bus.connect(QStringLiteral("server"));
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

    void prepareForSleepBecomesWillSleepThenDidWake() {
        PrivateBus bus;
        if (!bus.running()) {
            QSKIP("dbus-daemon is not available");
        }
        auto logind = bus.connect(QStringLiteral("logind"));
        QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
        QtLogindPowerMonitor monitor(bus.connect(QStringLiteral("app")));
        QStringList events;
        monitor.start([&] { events << "sleep"; }, [&] { events << "wake"; });
        QVERIFY(monitor.isListening());
        for (bool sleeping : {true, false}) {
            auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
            signal << sleeping;
            QVERIFY(logind.send(signal));
        }
        QTRY_COMPARE(events, (QStringList{"sleep", "wake"}));
    }
};

QTEST_MAIN(DesktopBusServicesTests)
#include "DesktopBusServicesTests.moc"
