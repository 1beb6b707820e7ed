// Sentences the user reads that no other test looks for, each with the state that shows it.
#include "Helpers/FanControlProcessLock.hpp"
#include "Support/PresetFixtures.hpp"
#include "UI/ExpandedSensorHistoryView.hpp"
#include "UI/FanCurveEditor.hpp"
#include "UI/MenuBarView.hpp"
#include "UI/SensorsView.hpp"
#include "UI/SettingsView.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"
#include "XPC/HelperXPCError.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

// What the user can read after the step: a window's visible labels and banners, or the model's error.
using Step = std::function<QStringList(ViewModelFixture&)>;

QStringList shown(const QWidget& root) {
    QStringList texts;
    for (auto* label : root.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&root)) {
            texts << label->text();
        }
    }
    for (auto* banner : root.findChildren<Banner*>()) {
        if (banner->isVisibleTo(&root)) {
            texts << banner->text();
        }
    }
    return texts;
}

template <typename View> Step window(std::function<void(ViewModelFixture&)> act = {}) {
    return [act](ViewModelFixture& fixture) {
        auto view = fixture.show<View>();
        if (act) {
            act(fixture);
        }
        fixture.settle();
        return shown(*view);
    };
}

Step editor(std::function<void(FanCurveEditor&)> act) {
    return [act](ViewModelFixture&) {
        FanCurveEditor view(curvePreset("Quiet", 35, 60), {0, 1});
        act(view);
        return shown(view);
    };
}

Step lastError(std::function<void(ViewModelFixture&)> act) {
    return [act](ViewModelFixture& fixture) {
        act(fixture);
        fixture.settle();
        return QStringList{QString::fromStdString(fixture.model->lastError().value_or(""))};
    };
}

Step helperError(HelperXPCError::Code code) {
    return [code](ViewModelFixture&) {
        return QStringList{
            QString::fromStdString(HelperXPCError::readable(HelperXPCError::make(code, "from the helper"))
                                       .localizedDescription()
                                       .value_or(""))};
    };
}

} // namespace

Q_DECLARE_METATYPE(Step)

class SentencesTests : public QObject {
    Q_OBJECT

private slots:
    void eachIsShownWhereItBelongs_data() {
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("linked fans") << editor([](auto&) {
        }) << "Every fan shares this configuration, each using its own hardware RPM limits.";
        QTest::newRow("unlinked fans")
            << editor([](auto& view) { child<QCheckBox>(view, "linkFans")->click(); })
            << "Each fan has its own configuration and hardware RPM limits. Unlinking "
               "starts every fan from the shared values.";
        QTest::newRow("ramp") << editor([](auto& view) {
            child<QSpinBox>(*child<QWidget>(view, "sharedSettings"), "fullSpeed")->setValue(35);
        }) << "Full speed must be above ramp start.";
        QTest::newRow("constant speed")
            << editor([](auto& view) { child<QComboBox>(view, "controlSource")->setCurrentIndex(1); })
            << "Fans hold this speed, each clamped to its own hardware limits.";
        QTest::newRow("conflicts")
            << window<SettingsView>()
            << "Other fan-control apps may conflict with Quorvane. Please close them before use.";
        QTest::newRow("alerts") << window<SettingsView>()
                                << "Delivered as a desktop notification, at most once every 5 minutes.";
        QTest::newRow("no sensors yet")
            << window<SensorsView>() << "Temperature channels appear after the first successful poll.";
        QTest::newRow("another owner") << window<MenuBarView>([](ViewModelFixture& fixture) {
            fixture.model->setFanControlOwnership(FanControlOwnership::anotherApp);
        })
                                       << "Temperatures and RPM remain live. Change the fan-control owner in "
                                          "Settings to let Quorvane apply "
                                          "presets.";
        QTest::newRow("no fans") << lastError([](ViewModelFixture& fixture) {
            auto fanless = fixture.snapshot(62, 60);
            fanless.fans.clear();
            fixture.pollAndFeed(fanless);
            fixture.model->activate(FanPreset::fullBlast);
        }) << "No controllable fans are currently available. Quorvane will retry when they return.";
        QTest::newRow("another helper") << lastError([](ViewModelFixture& fixture) {
            FanControlProcessLock other(fixture.paths.controlLock);
            other.acquire("another helper");
            fixture.nextPoll(62, 60);
            fixture.model->activate(FanPreset::fullBlast);
            fixture.settle();
        }) << "Another Quorvane helper already owns fan control. Quorvane is staying on Apple Default.";
        QTest::newRow("unverified client") << helperError(HelperXPCError::Code::unauthorizedClient)
                                           << "Quorvane could not verify the privileged helper connection.";
        QTest::newRow("fan gone") << helperError(HelperXPCError::Code::invalidFan)
                                  << "The selected fan is no longer available.";
    }

    void eachIsShownWhereItBelongs() {
        QFETCH(Step, step);
        QFETCH(QString, sentence);
        ViewModelFixture fixture;
        fixture.launch();
        const auto texts = step(fixture);
        QVERIFY2(texts.contains(sentence), qPrintable(texts.join(u" | "_s)));
    }
};

QTEST_MAIN(SentencesTests)
#include "SentencesTests.moc"
