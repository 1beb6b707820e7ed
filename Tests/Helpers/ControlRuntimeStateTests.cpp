#include "Helpers/FanTargetWriteCoalescer.hpp"
#include "Helpers/HistoryRetention.hpp"

#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace quorvane {
namespace {

TEST(FanTargetWriteCoalescer, KeepsOneWriteInFlightAndOnlyTheNewestPending) {
    FanTargetWriteCoalescer coalescer;
    EXPECT_EQ(coalescer.request(0, 3000), 3000);
    EXPECT_EQ(coalescer.request(0, 3200), std::nullopt);
    EXPECT_EQ(coalescer.request(0, 3400), std::nullopt);
    EXPECT_EQ(coalescer.request(1, 2500), 2500); // fan 1 never waits for fan 0
    EXPECT_EQ(coalescer.complete(0, true), 3400);
    EXPECT_EQ(coalescer.complete(0, true), std::nullopt);
    EXPECT_FALSE(coalescer.inFlight().contains(0) || coalescer.pending().contains(0));
}

TEST(FanTargetWriteCoalescer, DoesNotRewriteTheSameTargetAndForgetsPendingAfterFailure) {
    FanTargetWriteCoalescer coalescer;
    coalescer.request(0, 3000);
    coalescer.request(0, 3000);
    EXPECT_EQ(coalescer.complete(0, true), std::nullopt);

    coalescer.request(0, 3000);
    coalescer.request(0, 3400);
    EXPECT_EQ(coalescer.complete(0, false), std::nullopt);
    EXPECT_EQ(coalescer.latestTarget(0), std::nullopt);
    EXPECT_EQ(coalescer.request(0, 3500), 3500);

    EXPECT_EQ(coalescer.complete(1, true), std::nullopt); // nothing in flight: harmless
}

struct TrimCase {
    std::size_t samples;
    std::size_t limit;
    std::size_t batch;
    std::size_t remaining;
};

class HistoryTrim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(HistoryTrim, RemovesTheOldestInBatchesFromEverySeries) {
    const auto& param = GetParam();
    std::vector<std::size_t> samples(param.samples);
    std::iota(samples.begin(), samples.end(), 0);
    std::map<std::string, std::vector<float>> series{{"Tp01", std::vector<float>(param.samples)},
                                                     {"Tg0f", std::vector<float>(500)}};
    std::iota(series["Tp01"].begin(), series["Tp01"].end(), 0.0F);
    HistoryRetention::trim(samples, series, param.limit, param.batch);

    const auto removed = param.samples - param.remaining;
    ASSERT_EQ(samples.size(), param.remaining);
    EXPECT_TRUE(samples.empty() || samples.front() == removed);
    EXPECT_TRUE(series["Tp01"].empty() || series["Tp01"].front() == static_cast<float>(removed));
    EXPECT_EQ(series["Tp01"].size(), param.remaining);
    EXPECT_EQ(series.at("Tg0f").size(), removed >= 500 ? 0U : 500 - removed);
}

INSTANTIATE_TEST_SUITE_P(Limits, HistoryTrim,
                         ::testing::Values(TrimCase{21600, 21600, 600, 21600},
                                           TrimCase{21601, 21600, 600, 21001}, TrimCase{15, 10, 600, 0}));

} // namespace
} // namespace quorvane
