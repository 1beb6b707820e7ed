#pragma once

#include "Platform/NotificationCenter.hpp"

#include <QDBusConnection>
#include <QObject>
#include <memory>

namespace quorvane {

// Notifications through the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Permission means a service answers: no bus or no service counts as not granted.
// Answers arrive on the Qt main thread.
class FreedesktopNotificationCenter final : public NotificationCenter {
public:
    explicit FreedesktopNotificationCenter(QDBusConnection connection = QDBusConnection::sessionBus());
    ~FreedesktopNotificationCenter() override;

    void
    requestAuthorization(std::function<void(bool granted, std::optional<std::string> error)> answer) override;
    void deliver(const std::string& identifier, const std::string& title, const std::string& body,
                 std::function<void(std::optional<std::string> error)> completion) override;

    static inline const QString service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString path = QStringLiteral("/org/freedesktop/Notifications");

private:
    QDBusConnection connection_;
    // Watchers of calls still in flight die with it, so no answer reaches a destroyed centre.
    std::unique_ptr<QObject> context_;
};

} // namespace quorvane
