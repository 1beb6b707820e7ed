#include "Support/FakeDaemonRegistration.hpp"
#include "UI/DesktopApp.hpp"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

// The whole desktop app on no machine at all: no simulated Mac, no helper, no buses.
class DesktopAppTests : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
            qputenv(variable, directory.path().toUtf8() + "/" + variable);
        }
        qputenv("QUORVANE_SMC_SOCKET", directory.path().toUtf8() + "/no-machine.sock");
        qputenv("QUORVANE_HELPER_SOCKET", directory.path().toUtf8() + "/no-helper.sock");
    }

    void opensEveryWindowAndTheFirstQuitDecides() {
        AppCommandLine commandLine;
        commandLine.openWindows = {"dashboard", "sensors", "settings", "panel"};
        FakeDaemonRegistration registration;
        DesktopApp app(commandLine, registration);
        QStringList titles;
        QTimer::singleShot(0, &app, [&] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible()) {
                    titles << window->windowTitle();
                }
            }
            app.requestQuit(3);
            app.requestQuit(0);
        });
        QCOMPARE(app.run(), 3);
        QVERIFY(titles.contains(u"Quorvane"_s));
        QVERIFY(titles.contains(u"Temperature Sensors"_s));
        QVERIFY(titles.contains(u"Quorvane Settings"_s));
    }

    // A one-shot job, as headless: done once the loop runs, then the app quits with its status.
    void exportsPresetsAndQuits() {
        AppCommandLine commandLine;
        commandLine.exportPresets = directory.filePath(u"presets.json"_s).toStdString();
        FakeDaemonRegistration registration;
        DesktopApp app(commandLine, registration);
        // Liveness bound only: a job that never runs must not hang the suite.
        QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
        QCOMPARE(app.run(), 0);
        QVERIFY(QFile::exists(directory.filePath(u"presets.json"_s)));
    }

private:
    QTemporaryDir directory;
};

QTEST_MAIN(DesktopAppTests)
#include "DesktopAppTests.moc"
