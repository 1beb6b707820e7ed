#include "Platform/FileDescriptor.hpp"
#include "Platform/Qt/FreedesktopNotificationCenter.hpp"
#include "Platform/Qt/QtLogindPowerMonitor.hpp"
#include "Support/PrivateBus.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

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

// logind as far as sleep goes: it hands out "delay" inhibitors and watches their descriptors, as
// logind does, to learn when each is let go.
class FakeLogind final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QStringList requests;
    std::vector<FileDescriptor> watched;

    bool released(int inhibitor) const {
        pollfd descriptor{watched.at(static_cast<std::size_t>(inhibitor)).get(), POLLIN, 0};
        return ::poll(&descriptor, 1, 0) == 1 && (descriptor.revents & POLLHUP) != 0;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        requests << QStringList{what, who, why, mode}.join(QLatin1Char(' '));
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return {};
        }
        watched.emplace_back(ends[0]);
        FileDescriptor handedOut(ends[1]);
        return QDBusUnixFileDescriptor(handedOut.get()); // keeps a copy of its own
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
        auto logindConnection =
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("logind"));
        FakeLogind logind;
        QVERIFY(logindConnection.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                                QDBusConnection::ExportAllSlots));
        QVERIFY(logindConnection.registerService(QStringLiteral("org.freedesktop.login1")));
        const auto announce = [&](bool sleeping) {
            auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
            signal << sleeping;
            return logindConnection.send(signal);
        };

        QtLogindPowerMonitor monitor(
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("app")));
        QStringList events;
        monitor.setControlActive(true);
        monitor.start([&] { events << "sleep"; }, [&] { events << "wake"; });
        QVERIFY(monitor.isListening());
        QTRY_COMPARE(logind.requests,
                     QStringList{QStringLiteral("sleep Quorvane Handing the fans back to the system delay")});

        QVERIFY(announce(true));
        QTRY_COMPARE(events, QStringList{"sleep"});
        QVERIFY2(!logind.released(0), "sleep waits until the session has handed the fans back");
        monitor.setControlActive(false);
        QTRY_VERIFY(logind.released(0));

        monitor.setControlActive(true);
        QVERIFY(announce(false));
        QTRY_COMPARE(events, (QStringList{"sleep", "wake"}));
        QTRY_COMPARE(logind.requests.size(), 2);
        QVERIFY(!logind.released(1));
    }
};

QTEST_MAIN(DesktopBusServicesTests)
#include "DesktopBusServicesTests.moc"
