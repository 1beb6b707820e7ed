#include "Platform/Qt/QtLogindPowerMonitor.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace quorvane {

namespace {

const QString logind = QStringLiteral("org.freedesktop.login1");
const QString logindPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

QtLogindPowerMonitor::QtLogindPowerMonitor(QDBusConnection connection) : connection_(std::move(connection)) {}

void QtLogindPowerMonitor::start(std::function<void()> willSleep, std::function<void()> didWake) {
    if (listening_) {
        return;
    }
    willSleep_ = std::move(willSleep);
    didWake_ = std::move(didWake);
    Logger logger(AppBundleIdentifier, "Setup");
    if (!connection_.isConnected()) {
        logger.info("no system bus; sleep and wake are not observed");
        return;
    }
    listening_ = connection_.connect(logind, logindPath, managerInterface, QStringLiteral("PrepareForSleep"),
                                     this, SLOT(prepareForSleep(bool)));
    if (!listening_) {
        logger.info("cannot subscribe to logind; sleep and wake are not observed");
        return;
    }
    requestIfWanted();
}

void QtLogindPowerMonitor::setControlActive(bool active) {
    QMetaObject::invokeMethod(
        this, [this, active] { applyControlActive(active); }, Qt::QueuedConnection);
}

void QtLogindPowerMonitor::applyControlActive(bool active) {
    wanted_ = active;
    if (!active) {
        inhibitor_ = QDBusUnixFileDescriptor();
        return;
    }
    requestIfWanted();
}

void QtLogindPowerMonitor::requestIfWanted() {
    if (!wanted_ || sleeping_ || requesting_ || inhibitor_.isValid() || !listening_) {
        return;
    }
    requesting_ = true;
    auto call =
        QDBusMessage::createMethodCall(logind, logindPath, managerInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Quorvane")
         << QStringLiteral("Handing the fans back to the system") << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        requesting_ = false;
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
        if (reply.isError()) {
            Logger(AppBundleIdentifier, "Power")
                .error("cannot delay sleep for the fan hand-back: " + reply.error().message().toStdString());
            return;
        }
        if (wanted_ && !sleeping_) {
            inhibitor_ = reply.value();
        } else {
            // Control ended, or sleep began, while logind answered.
            requestIfWanted();
        }
    });
}

void QtLogindPowerMonitor::prepareForSleep(bool sleeping) {
    sleeping_ = sleeping;
    // Before sleeping the inhibitor stays until the hand-back ends the session; after waking a
    // session still active holds sleep back again.
    if (!sleeping) {
        requestIfWanted();
    }
    const auto& handler = sleeping ? willSleep_ : didWake_;
    if (handler) {
        handler();
    }
}

} // namespace quorvane
