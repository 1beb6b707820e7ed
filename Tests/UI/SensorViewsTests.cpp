#include "UI/CompactTemperatureGauge.hpp"
#include "UI/ExpandedSensorHistoryView.hpp"
#include "UI/HistoryGraphView.hpp"
#include "UI/SensorsView.hpp"
#include "UI/SessionChartMath.hpp"
#include "UI/TemperatureGaugeBar.hpp"
#include "UI/TemperatureGaugeView.hpp"
#include "UI/TemperatureZone.hpp"
#include "UI/ThermalMetricSummary.hpp"
#include "UI/ViewModelFixture.hpp"
#include "UI/WidgetSearch.hpp"

#include <QChart>
#include <QLineEdit>
#include <QLineSeries>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

// Group headings and, under each, the listed key names.
QStringList listed(const SensorsView& view) {
    QStringList lines;
    for (int group = 0; group < view.tree()->topLevelItemCount(); ++group) {
        const auto* item = view.tree()->topLevelItem(group);
        lines << item->text(0);
        for (int child = 0; child < item->childCount(); ++child) {
            lines << u"  "_s + item->child(child)->text(1);
        }
    }
    return lines;
}

QStringList optionIDs(const ExpandedSensorHistoryView& view) {
    QStringList ids;
    for (const auto& option : view.options()) {
        ids << option.id;
    }
    return ids;
}

using Clock = std::chrono::system_clock;
const Clock::time_point start = Clock::time_point(std::chrono::seconds(1'700'000'000));

// One point per second from `start`, with the given values.
std::vector<SessionChartPoint> series(std::initializer_list<double> values) {
    std::vector<SessionChartPoint> points;
    for (double value : values) {
        points.push_back({start + std::chrono::seconds(points.size()), value});
    }
    return points;
}

SessionChartPoint at(int second, double value) {
    return {start + std::chrono::seconds(second), value};
}

} // namespace

class SensorViewsTests : public QObject {
    Q_OBJECT

private slots:
    void sensorListIsEmptyUntilTheFirstPollThenGroupedAndSearchable() {
        ViewModelFixture fixture;
        auto view = fixture.show<SensorsView>();
        QVERIFY(view->showsEmptyState());

        auto snapshot = fixture.snapshot(62, 60);
        snapshot.readings.push_back({"Tp05", "P-core 5", 63});
        snapshot.readings.push_back({"TCMz", "CPU die hotspot", 70});
        snapshot.electricalReadings = {{"SBAV", "Battery Voltage", 12.5, "V"},
                                       {"PSTR", "Total System Power", 23.4, "W"},
                                       {"ID0R", "AC Input Current", 1.5, "A"},
                                       {"PHPC", "Heatpipe Power", 9.0, "W"}};
        fixture.pollAndFeed(snapshot);
        QVERIFY(!view->showsEmptyState());
        QCOMPARE(listed(*view),
                 (QStringList{"TC", "  TCMz", "Tg", "  Tg0f", "Tp", "  Tp01", "  Tp05", "Power", "  PHPC",
                              "  PSTR", "Voltage", "  SBAV", "Current", "  ID0R"}));
        const auto voltage = view->tree()->findItems(u"SBAV"_s, Qt::MatchExactly | Qt::MatchRecursive, 1);
        QCOMPARE(voltage[0]->text(2), u"12.50 V"_s);
        // Total System Power is a series of the session chart, in watts.
        ExpandedSensorHistoryView chart(*fixture.adapter);
        const auto& options = chart.options();
        const auto power = std::find_if(options.begin(), options.end(),
                                        [](const auto& option) { return option.id == u"PSTR"_s; });
        QVERIFY(power != options.end());
        QCOMPARE(*power, (ExpandedSensorHistoryView::SensorOption{"PSTR", "Total System Power", "W"}));

        view->searchField()->setText(u"tP0"_s);
        QCOMPARE(listed(*view), (QStringList{"Tp", "  Tp01", "  Tp05"}));
        // A search that matches nothing is an empty list, not the no-data state.
        view->searchField()->setText(u"x"_s);
        QVERIFY(listed(*view).isEmpty());
        QVERIFY(!view->showsEmptyState());

        view->searchField()->clear();
        fixture.nextPoll(66, 60);
        const auto rows = view->tree()->findItems(u"Tp01"_s, Qt::MatchExactly | Qt::MatchRecursive, 1);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0]->text(2), u"66.0 °C"_s);
    }

    void hiddenSensorListCatchesUpWhenShown() {
        ViewModelFixture fixture;
        fixture.launch();
        SensorsView view(*fixture.adapter);
        QCOMPARE(view.summary()->valueText("CPU die hotspot (TCMz)"), u"Unavailable"_s);
        fixture.nextPoll(62, 60, 71.34);
        view.show();
        QCOMPARE(listed(view), (QStringList{"Tg", "  Tg0f", "Tp", "  Tp01"}));
        // Above the list: the hottest sensor on the compact gauge and the live comparison.
        QVERIFY(showsText(view, u"Hottest Live Sensor"_s));
        QVERIFY(showsText(view, u"Live sensor comparison"_s));
        QCOMPARE(view.summary()->valueText("CPU all-core average"), u"60.0 °C"_s);
        QCOMPARE(view.summary()->valueText("CPU die hotspot (TCMz)"), u"71.3 °C"_s);
        QCOMPARE(view.summary()->valueText("GPU die hotspot (TRDX)"), u"Unavailable"_s);
    }

    void expandedChartOffersDerivedSeriesThenTrackedSensors() {
        ViewModelFixture fixture;
        auto view = fixture.show<ExpandedSensorHistoryView>();
        QCOMPARE(view->heading(), u"Warmest Fan Zone"_s);
        QVERIFY(view->isCollecting());
        QCOMPARE(view->description(), u"Warmest Fan Zone (curve input) · waiting for samples"_s);

        fixture.nextPoll(62, 60);
        QCOMPARE(optionIDs(*view), (QStringList{"__fan_control_signal", "__cpu_core_average", "__gpu_average",
                                                "TCMz", "Tg0f", "Tp01"}));
        QCOMPARE(view->options()[5].name, u"P-core 1"_s);
        QVERIFY(view->isCollecting());

        fixture.nextPoll(64, 60);
        QVERIFY(!view->isCollecting());
        QCOMPARE(view->series()->count(), 2);

        QSignalSpy selected(view.get(), &ExpandedSensorHistoryView::selectedSensorChanged);
        view->setSelectedSensorID(u"Tp01"_s);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(view->heading(), u"P-core 1"_s);
        QCOMPARE(view->description(), u"P-core 1 · 2 samples · 2s"_s);
        QCOMPARE(view->statistic("Peak"), u"64.0"_s);
        QCOMPARE(view->statistic("Average"), u"63.0"_s);
        QCOMPARE(view->statistic("Low"), u"62.0"_s);
    }

    void missingSensorSamplesAreLeftOutOfTheChart() {
        ViewModelFixture fixture;
        fixture.launch();
        ExpandedSensorHistoryView view(*fixture.adapter);
        view.setSelectedSensorID(u"Tp01"_s);
        view.show();
        fixture.nextPoll(62, 60);
        fixture.clock.advance(2000);
        auto withoutCore = fixture.snapshot(70, 60);
        std::erase_if(withoutCore.readings,
                      [](const SensorReading& reading) { return reading.keyName == "Tp01"; });
        fixture.pollAndFeed(withoutCore);
        // Two samples in the session, but the core was read in only one of them.
        QCOMPARE(fixture.model->history().size(), std::size_t(2));
        QVERIFY(view.isCollecting());
        QCOMPARE(view.statistic("Peak"), u"62.0"_s);

        fixture.nextPoll(58, 60);
        QVERIFY(!view.isCollecting());
        QCOMPARE(view.description(), u"P-core 1 · 2 samples · 4s"_s);
        QCOMPARE(view.statistic("Low"), u"58.0"_s);
    }

    void hiddenChartWaitsForShowAndCloseButtonCollapses() {
        ViewModelFixture fixture;
        fixture.launch();
        ExpandedSensorHistoryView view(*fixture.adapter);
        fixture.nextPoll(62, 60);
        fixture.nextPoll(63, 60);
        QVERIFY(view.isCollecting());
        view.show();
        QVERIFY(!view.isCollecting());

        QSignalSpy collapse(&view, &ExpandedSensorHistoryView::collapseRequested);
        auto* close = view.findChild<QToolButton*>(u"collapseButton"_s);
        QVERIFY(close);
        QCOMPARE(close->toolTip(), u"Collapse session chart"_s);
        close->click();
        QCOMPARE(collapse.count(), 1);
    }

    void historyGraphReusesItsSeriesAcrossPolls() {
        ViewModelFixture fixture;
        auto view = fixture.show<HistoryGraphView>();
        fixture.nextPoll(62, 60);
        auto* temperature = view->temperatureSeries();
        const auto rpm = view->rpmSeries();
        fixture.nextPoll(63, 60);
        fixture.nextPoll(64, 60);
        QCOMPARE(view->temperatureSeries(), temperature);
        QCOMPARE(view->rpmSeries(), rpm);
        QCOMPARE(temperature->count(), 3);
        QCOMPARE(rpm.size(), std::size_t(2));
        QCOMPARE(rpm[0]->name(), u"Fan RPM Left"_s);
        QCOMPARE(rpm[1]->name(), u"Fan RPM Right"_s);
        QCOMPARE(view->chart()->series().size(), 3);
    }

    void zonesHaveInclusiveLowerBounds() {
        QCOMPARE(TemperatureZone::zone(44.99).name, u"Cool"_s);
        QCOMPARE(TemperatureZone::zone(45).name, u"Normal"_s);
        QCOMPARE(TemperatureZone::zone(130).rangeLabel, u"90–105°"_s);
    }

    void gaugeDescribesItsReadingAndEasesTowardNewOnes() {
        TemperatureGaugeView gauge(u"Hottest Live Sensor"_s);
        auto* bar = gauge.bar();
        QCOMPARE(bar->accessibleName(), u"Hottest sensor temperature gauge"_s);
        QCOMPARE(bar->accessibleDescription(), u"unavailable"_s);

        gauge.show();
        gauge.setReading(61.26, u"Smart Auto"_s, 0.05);
        QCOMPARE(bar->accessibleDescription(), u"61.3 degrees Celsius"_s);
        QCOMPARE(gauge.zoneText(), u"Warm"_s);
        QCOMPARE(gauge.presetText(), u"Smart Auto"_s);
        QVERIFY(!bar->isAnimating());

        gauge.setReading(80, u"Smart Auto"_s, 0.05);
        QVERIFY(bar->isAnimating());
        QVERIFY(*bar->displayedTemperature() < 80);
        QTRY_VERIFY(!bar->isAnimating());
        QCOMPARE(*bar->displayedTemperature(), 80.0);

        gauge.setReading(std::nullopt, u"Smart Auto"_s, 0.05);
        QCOMPARE(bar->accessibleDescription(), u"unavailable"_s);
        QVERIFY(gauge.zoneText().isEmpty());
        QVERIFY(!bar->displayedTemperature());
    }

    void downsamplingKeepsEachBucketsExtremesInTimeOrder() {
        // Bucket size ceil(5 / 2) = 3: {5, 1, 3} has its peak before its low, {2, 4} the other way.
        QCOMPARE(peakPreservingDownsample(series({5, 1, 3, 2, 4}), 4),
                 (std::vector{at(0, 5), at(1, 1), at(3, 2), at(4, 4)}));
        // A flat bucket gives its first point.
        QCOMPARE(peakPreservingDownsample(series({7, 7, 7, 2, 9, 9}), 4),
                 (std::vector{at(0, 7), at(3, 2), at(4, 9)}));
        // Series that fit, or tiny limits, are left alone.
        QCOMPARE(peakPreservingDownsample(series({1, 2, 3}), 3), series({1, 2, 3}));
        QCOMPARE(peakPreservingDownsample(series({1, 2, 3, 4, 5}), 3), series({1, 2, 3, 4, 5}));

        // A one-sample spike survives a six-hour session.
        std::vector<SessionChartPoint> points;
        for (int second = 0; second < 21600; ++second) {
            points.push_back(at(second, second == 12345 ? 104.0 : 50.0 + (second % 7) * 0.1));
        }
        const auto thinned = peakPreservingDownsample(points, 240);
        QVERIFY(thinned.size() <= 240);
        QVERIFY(std::find(thinned.begin(), thinned.end(), at(12345, 104.0)) != thinned.end());
        QVERIFY(std::is_sorted(thinned.begin(), thinned.end(),
                               [](const auto& left, const auto& right) { return left.date < right.date; }));
    }

    void descriptionCountsSamplesAndAbbreviatesTheSpan() {
        const QString name = u"CPU Core Average"_s;
        QCOMPARE(sessionDescription(name, {}), u"CPU Core Average · waiting for samples"_s);
        QCOMPARE(sessionDescription(name, {at(0, 50)}), u"CPU Core Average · 1 samples · 0s"_s);
        QCOMPARE(sessionDescription(name, {at(0, 50), at(3600, 51)}),
                 u"CPU Core Average · 2 samples · 1h 0m"_s);
        QCOMPARE(sessionDescription(name, {at(0, 50), at(3599, 51)}),
                 u"CPU Core Average · 2 samples · 59m 59s"_s);
        // Out-of-order dates never show a negative span.
        QCOMPARE(sessionDescription(name, {at(30, 50), at(0, 51)}), u"CPU Core Average · 2 samples · 0s"_s);
    }
};

QTEST_MAIN(SensorViewsTests)
#include "SensorViewsTests.moc"
