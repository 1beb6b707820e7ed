#include "Platform/Qt/QtLogindPowerMonitor.hpp"

#include "Helpers/AppIdentity.hpp"
#include "Helpers/Logger.hpp"

namespace quorvane {

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
    listening_ = connection_.connect(QStringLiteral("org.freedesktop.login1"),
                                     QStringLiteral("/org/freedesktop/login1"),
                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                     QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
    if (!listening_) {
        logger.info("cannot subscribe to logind; sleep and wake are not observed");
    }
}

void QtLogindPowerMonitor::prepareForSleep(bool sleeping) {
    const auto& handler = sleeping ? willSleep_ : didWake_;
    if (handler) {
        handler();
    }
}

} // namespace quorvane
