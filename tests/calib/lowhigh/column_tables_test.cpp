#include "calib/lowhigh/column_tables.h"

#include <algorithm>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

namespace ffc {
namespace {

std::vector<int32_t> UnknownTable() {
    return std::vector<int32_t>(kTableSize, kUnknownEntry);
}

// The table entries and dark response by one list of levels per raw value,
// each sorted and stripped of repeats, then averaged.
DarkResponse TabulateWithBuckets(const std::vector<ColumnSample>& samples, std::vector<int32_t>& table) {
    std::vector<std::vector<int32_t>> buckets(kTableSize);
    for (const ColumnSample& sample : samples) buckets[sample.raw].push_back(sample.level);
    for (std::vector<int32_t>& bucket : buckets) {
        std::sort(bucket.begin(), bucket.end());
        bucket.erase(std::unique(bucket.begin(), bucket.end()), bucket.end());
    }
    for (int32_t b = 0; b < kTableSize; ++b) {
        if (buckets[b].empty()) continue;
        float sum = 0.0f;
        for (int32_t level : buckets[b]) sum += static_cast<float>(level);
        table[b] = static_cast<int32_t>(sum / static_cast<float>(buckets[b].size()));
    }
    const std::vector<int32_t>& dark = buckets[0];
    if (!dark.empty() && dark.back() - dark.front() > 5) return {true, dark.front(), dark.back()};
    return {};
}

TEST(ColumnTable, SortedSamplesGiveTheSameTableAsBuckets) {
    std::mt19937 generator(11);
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<ColumnSample> samples(1 + generator() % 80);
        const int32_t rawSpread = 1 + static_cast<int32_t>(generator() % 256);
        for (ColumnSample& sample : samples) {
            sample.raw = static_cast<int32_t>(generator() % rawSpread);
            sample.level = static_cast<int32_t>(generator() % 256);
        }
        std::vector<int32_t> expected = UnknownTable();
        const DarkResponse expectedDark = TabulateWithBuckets(samples, expected);
        std::vector<int32_t> table = UnknownTable();
        const DarkResponse dark = TabulateColumn(samples, table);
        ASSERT_EQ(table, expected) << "trial " << trial;
        ASSERT_EQ(dark.flagged, expectedDark.flagged);
        ASSERT_EQ(dark.lowest, expectedDark.lowest);
        ASSERT_EQ(dark.highest, expectedDark.highest);
    }
}

TEST(ColumnTable, RepeatedLevelsCountOnceAndDarkSpreadAboveFiveFlags) {
    std::vector<ColumnSample> samples = {{7, 44}, {7, 40}, {7, 40}, {0, 16}, {0, 10}};
    std::vector<int32_t> table = UnknownTable();
    const DarkResponse dark = TabulateColumn(samples, table);
    EXPECT_EQ(table[7], 42);
    EXPECT_EQ(table[0], 13);
    EXPECT_TRUE(dark.flagged);
    EXPECT_EQ(dark.lowest, 10);
    EXPECT_EQ(dark.highest, 16);

    std::vector<ColumnSample> narrow = {{0, 15}, {0, 10}};
    EXPECT_FALSE(TabulateColumn(narrow, table).flagged);
}

TEST(ColumnTable, FillsGapsStepByStepAndExtrapolatesWithLastFiveEntries) {
    std::vector<int32_t> table = UnknownTable();
    table[50] = 60;
    table[60] = 80;
    FillTableGaps(table);
    for (int32_t b = 0; b <= 5; ++b) EXPECT_EQ(table[b], b + 1);
    EXPECT_EQ(table[45], 50);
    EXPECT_EQ(table[49], 58);
    for (int32_t b = 51; b <= 59; ++b) EXPECT_EQ(table[b], 62 + 2 * (b - 51));
    for (int32_t b = 61; b <= 255; ++b) EXPECT_EQ(table[b], 80 + 2 * (b - 60));
    EXPECT_EQ(table[255], 470);
}

TEST(ColumnTable, ExtrapolatesNearTheBottomWithTheEntriesThatExist) {
    std::vector<int32_t> table = UnknownTable();
    table[2] = 10;
    FillTableGaps(table);
    // 10/2, then 10 + (10 - 5)/2, then slopes over 2, 3, 4 and 5 entries.
    EXPECT_EQ((std::vector<int32_t>(table.begin(), table.begin() + 7)), (std::vector<int32_t>{5, 7, 10, 12, 14, 16, 18}));

    std::vector<int32_t> flat = UnknownTable();
    flat[0] = 9;
    FillTableGaps(flat);
    EXPECT_EQ(flat, std::vector<int32_t>(kTableSize, 9));

    std::vector<int32_t> empty = UnknownTable();
    FillTableGaps(empty);
    EXPECT_EQ(empty, UnknownTable());
}

TEST(ColumnTable, FitPointsLieStrictlyInsideTheRangeAndSkipUnknownEntries) {
    std::vector<int32_t> table(kTableSize, 3);
    std::vector<float> x;
    std::vector<float> y;
    CollectFitPoints(table, false, {35.0f, 180.0f}, x, y);
    ASSERT_EQ(x.size(), 144u);
    EXPECT_EQ(x.front(), 36.0f);
    EXPECT_EQ(x.back(), 179.0f);
    EXPECT_EQ(y, std::vector<float>(144, 3.0f));

    // From raw 0 up: only a flagged column leaves out x = 0.
    table[100] = kUnknownEntry;
    CollectFitPoints(table, false, {-1.0f, 180.0f}, x, y);
    EXPECT_EQ(x.size(), 179u);
    EXPECT_EQ(x.front(), 0.0f);
    CollectFitPoints(table, true, {-1.0f, 180.0f}, x, y);
    EXPECT_EQ(x.size(), 178u);
    EXPECT_EQ(x.front(), 1.0f);
}

TEST(ColumnTable, CachedDesignsFitLikeAFreshPolyfit) {
    std::mt19937 generator(5);
    FitDesignCache cache;
    for (int column = 0; column < 400; ++column) {
        // Mostly one range, sometimes a column with holes or another range.
        std::vector<float> x;
        const int first = generator() % 4 == 0 ? static_cast<int>(generator() % 40) : 36;
        const int holes = generator() % 3 == 0 ? static_cast<int>(generator() % 30) : 0;
        for (int raw = first; raw < 180; ++raw) {
            if (holes == 0 || raw % holes != 0) x.push_back(static_cast<float>(raw));
        }
        std::vector<float> y;
        for (size_t i = 0; i < x.size(); ++i) y.push_back(static_cast<float>(generator() % 256));
        const FitDesigns& designs = DesignsFor(cache, x);
        const std::vector<float> quadratic = SolvePolyfit(designs.quadratic, y);
        const std::vector<float> cubic = SolvePolyfit(designs.cubic, y);
        const std::vector<float> freshQuadratic = Polyfit(x, y, 2);
        const std::vector<float> freshCubic = Polyfit(x, y, 3);
        ASSERT_EQ(std::memcmp(quadratic.data(), freshQuadratic.data(), 3 * sizeof(float)), 0) << column;
        ASSERT_EQ(std::memcmp(cubic.data(), freshCubic.data(), 4 * sizeof(float)), 0) << column;
    }
}

}  // namespace
}  // namespace ffc
