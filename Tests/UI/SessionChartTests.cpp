#include "UI/SessionChartMath.hpp"

#include <QtTest>

using namespace quorvane;

namespace {

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

class SessionChartTests : public QObject {
    Q_OBJECT

private slots:
    void eachBucketKeepsItsExtremesInTimeOrderAndAFlatOneGivesItsFirstPoint() {
        // Bucket size ceil(5 / 2) = 3: {5, 1, 3} has its peak before its low, {2, 4} the other way.
        QCOMPARE(peakPreservingDownsample(series({5, 1, 3, 2, 4}), 4),
                 (std::vector{at(0, 5), at(1, 1), at(3, 2), at(4, 4)}));
        QCOMPARE(peakPreservingDownsample(series({7, 7, 7, 2, 9, 9}), 4),
                 (std::vector{at(0, 7), at(3, 2), at(4, 9)}));
    }

    void seriesThatFitOrTinyLimitsAreLeftAlone() {
        const auto points = series({1, 2, 3, 4, 5});
        QCOMPARE(peakPreservingDownsample(points, 5), points);
        QCOMPARE(peakPreservingDownsample(points, 3), points);
        QVERIFY(peakPreservingDownsample({}, 240).empty());
    }

    void aOneSampleSpikeSurvivesALongSession() {
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
        const QString name = QStringLiteral("CPU Core Average");
        QCOMPARE(sessionDescription(name, {}), QStringLiteral("CPU Core Average · waiting for samples"));
        QCOMPARE(sessionDescription(name, {at(0, 50)}), QStringLiteral("CPU Core Average · 1 samples · 0s"));
        QCOMPARE(sessionDescription(name, {at(0, 50), at(3600, 51)}),
                 QStringLiteral("CPU Core Average · 2 samples · 1h 0m"));
        QCOMPARE(sessionDescription(name, {at(0, 50), at(3599, 51)}),
                 QStringLiteral("CPU Core Average · 2 samples · 59m 59s"));
        QCOMPARE(sessionDescription(name, {at(0, 50), at(45, 51), at(7322, 52)}),
                 QStringLiteral("CPU Core Average · 3 samples · 2h 2m"));
        // Out-of-order dates never show a negative span.
        QCOMPARE(sessionDescription(name, {at(30, 50), at(0, 51)}),
                 QStringLiteral("CPU Core Average · 2 samples · 0s"));
        QCOMPARE(abbreviatedDuration(45.9), QStringLiteral("45s"));
    }
};

QTEST_APPLESS_MAIN(SessionChartTests)
#include "SessionChartTests.moc"
