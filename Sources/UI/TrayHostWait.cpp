#include "UI/TrayHostWait.hpp"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QSystemTrayIcon>

namespace quorvane {

TrayHostWait::TrayHostWait(Probes probes, int intervalMilliseconds, int checks,
                           std::function<void(bool)> done)
    : probes_(std::move(probes)), checksLeft_(checks), done_(std::move(done)) {
    timer_.setInterval(intervalMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &TrayHostWait::check);
    // The first check runs from the event loop too, so `done` never runs inside the constructor.
    QTimer::singleShot(0, this, &TrayHostWait::check);
}

bool TrayHostWait::statusNotifierHostRegistered() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                           QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.kde.StatusNotifierWatcher"), bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool TrayHostWait::qtTrayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayHostWait::check() {
    if (!done_) {
        return;
    }
    --checksLeft_;
    if (!probes_.hostReady() && checksLeft_ > 0) {
        if (!timer_.isActive()) {
            timer_.start();
        }
        return;
    }
    timer_.stop();
    // Qt's answer also covers trays the bus does not show (XEmbed).
    const bool tray = probes_.trayAvailable();
    auto done = std::move(done_);
    done_ = nullptr;
    done(tray);
}

} // namespace quorvane
