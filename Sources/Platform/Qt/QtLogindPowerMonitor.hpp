#pragma once

#include "Platform/PowerMonitor.hpp"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace quorvane {

// Sleep and wake from logind's PrepareForSleep signal on the system bus, received on the Qt main
// thread, and a logind "delay" inhibitor for sleep held while the app controls the fans. Without a
// system bus (containers, CI) it does nothing.
class QtLogindPowerMonitor final : public QObject, public PowerMonitor {
    Q_OBJECT

public:
    explicit QtLogindPowerMonitor(QDBusConnection connection = QDBusConnection::systemBus());

    // A second start does nothing.
    void start(std::function<void()> willSleep, std::function<void()> didWake) override;
    // Takes effect on the monitor's thread.
    void setControlActive(bool active) override;
    bool isListening() const { return listening_; }

private slots:
    void prepareForSleep(bool sleeping);

private:
    void applyControlActive(bool active);
    void requestIfWanted();

    QDBusConnection connection_;
    std::function<void()> willSleep_;
    std::function<void()> didWake_;
    bool listening_ = false;
    bool wanted_ = false;
    bool sleeping_ = false;
    bool requesting_ = false;
    // logind's descriptor is the inhibitor: letting go of it lets sleep go on.
    QDBusUnixFileDescriptor inhibitor_;
};

} // namespace quorvane
