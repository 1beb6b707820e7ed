#include "Platform/Qt/FreedesktopNotificationCenter.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace quorvane {

namespace {

// Calls a method of the notification service and hands its reply (or error text) to `answer`.
void call(QDBusConnection& connection, QObject* context, const QString& method, const QVariantList& arguments,
          std::function<void(std::optional<std::string> error)> answer) {
    if (!connection.isConnected()) {
        answer("no session bus");
        return;
    }
    auto message = QDBusMessage::createMethodCall(FreedesktopNotificationCenter::service,
                                                  FreedesktopNotificationCenter::path,
                                                  FreedesktopNotificationCenter::service, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(message, 5000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answer = std::move(answer)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError()) {
                             answer(finished->error().message().toStdString());
                         } else {
                             answer(std::nullopt);
                         }
                     });
}

} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection connection)
    : connection_(std::move(connection)), context_(std::make_unique<QObject>()) {}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() = default;

void FreedesktopNotificationCenter::requestAuthorization(
    std::function<void(bool granted, std::optional<std::string> error)> answer) {
    // Nothing to ask on a desktop: the user allows notifications by running a notification service.
    call(connection_, context_.get(), QStringLiteral("GetServerInformation"), {},
         [answer = std::move(answer)](std::optional<std::string> error) { answer(!error, std::nullopt); });
}

void FreedesktopNotificationCenter::deliver(
    const std::string&, const std::string& title, const std::string& body,
    std::function<void(std::optional<std::string> error)> completion) {
    const QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
                            {QStringLiteral("desktop-entry"), QStringLiteral("com.orvalith.quorvane")}};
    call(connection_, context_.get(), QStringLiteral("Notify"),
         {QStringLiteral("Quorvane"), 0u, QStringLiteral("com.orvalith.quorvane"),
          QString::fromStdString(title), QString::fromStdString(body), QStringList(), hints, -1},
         std::move(completion));
}

} // namespace quorvane
