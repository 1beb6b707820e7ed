#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace quorvane {

// Waits a few seconds for the panel's tray host, as at login the app may start before the panel.
// Qt settles once per process whether a StatusNotifier tray exists, so it is asked only when the
// host is up or the wait is over: `hostReady` is the cheap check repeated on the timer,
// `trayAvailable` Qt's answer. `done` is called once, from the event loop, with whether there is a tray.
class TrayHostWait final : public QObject {
    Q_OBJECT

public:
    struct Probes {
        std::function<bool()> hostReady = statusNotifierHostRegistered;
        std::function<bool()> trayAvailable = qtTrayAvailable;
    };

    TrayHostWait(Probes probes, int intervalMilliseconds, int checks, std::function<void(bool)> done);

    // Whether a StatusNotifierWatcher on the session bus has a host registered.
    static bool statusNotifierHostRegistered();
    static bool qtTrayAvailable();

private:
    void check();

    Probes probes_;
    int checksLeft_;
    std::function<void(bool)> done_;
    QTimer timer_;
};

} // namespace quorvane
