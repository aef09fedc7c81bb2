#include "calib/lowhigh/column_tables.h"
#include "calib/lowhigh/column_fits.h"
#include "support/plain_fits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

namespace ffc {
namespace {

using testing::FillTableGaps;
using testing::Polyfit;
using testing::SolvePolyfit;

std::vector<int32_t> UnknownTable() { return std::vector<int32_t>(kTableSize, kUnknownEntry); }

// Table entries and dark response from one sorted, repeat-free list of levels
// per raw value.
DarkResponse TabulateWithBuckets(const std::vector<ColumnSample>& samples, std::vector<int32_t>& table) {
    std::vector<std::vector<int32_t>> buckets(kTableSize);
    for (const ColumnSample& sample : samples) buckets[sample.raw].push_back(sample.level);
    for (int32_t b = 0; b < kTableSize; ++b) {
        std::vector<int32_t>& bucket = buckets[b];
        std::sort(bucket.begin(), bucket.end());
        bucket.erase(std::unique(bucket.begin(), bucket.end()), bucket.end());
        float sum = 0.0f;
        for (int32_t level : bucket) sum += static_cast<float>(level);
        if (!bucket.empty()) table[b] = static_cast<int32_t>(sum / static_cast<float>(bucket.size()));
    }
    const std::vector<int32_t>& dark = buckets[0];
    if (!dark.empty() && dark.back() - dark.front() > 5) return {true, dark.front(), dark.back()};
    return {};
}

// Gap filling one entry at a time, searching prev and next for each entry and
// dividing in double.
void FillGapsOneByOne(std::vector<int32_t>& t) {
    for (int32_t b = 0; b < kTableSize; ++b) {
        if (t[b] != kUnknownEntry) continue;
        int32_t prev = b - 1;
        while (prev >= 0 && t[prev] == kUnknownEntry) --prev;
        int32_t next = b + 1;
        while (next < kTableSize && t[next] == kUnknownEntry) ++next;
        if (next < kTableSize && prev < 0) {
            t[b] = static_cast<int32_t>(static_cast<double>(t[next]) / next);
        } else if (next < kTableSize) {
            t[b] = static_cast<int32_t>(static_cast<double>(t[next] - t[prev]) / (next - prev) + t[prev]);
        } else if (prev >= 0) {
            const int32_t k = std::min(5, prev);
            t[b] = k == 0 ? t[prev] : static_cast<int32_t>(t[prev] + static_cast<double>(t[prev] - t[prev - k]) / k);
        }
    }
}

TEST(ColumnTable, MatchesThePlainBucketAndGapRulesOnRandomColumns) {
    std::mt19937 generator(11);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<ColumnSample> samples(1 + generator() % 80);
        const uint32_t rawSpread = 1 + generator() % 256;
        const uint32_t levelSpread = 1 + generator() % 256;
        for (ColumnSample& sample : samples) {
            sample.raw = static_cast<int32_t>(generator() % rawSpread);
            sample.level = static_cast<int32_t>(generator() % levelSpread);
        }
        // Usually rising with the level, as real columns do.
        if (trial % 2 == 0) std::sort(samples.begin(), samples.end(), [](auto a, auto b) { return a.raw < b.raw; });
        std::vector<int32_t> expected = UnknownTable();
        const DarkResponse expectedDark = TabulateWithBuckets(samples, expected);
        std::vector<int32_t> table = UnknownTable();
        const DarkResponse dark = TabulateColumn(samples, table);
        ASSERT_EQ(table, expected) << trial;
        // The known entries listed from the samples fill as the plain rule.
        std::vector<int32_t> known, listed = table;
        ListKnownEntries(samples, table, known);
        FillTableGapsOfKnown(listed, known);
        FillGapsOneByOne(expected);
        ASSERT_EQ(listed, expected) << trial;
        ASSERT_EQ(std::tie(dark.flagged, dark.lowest, dark.highest),
                  std::tie(expectedDark.flagged, expectedDark.lowest, expectedDark.highest));
        // Falling tables too, whose extrapolation runs below zero, and tables
        // with negative entries.
        for (int32_t& entry : table) {
            if (entry != kUnknownEntry && trial % 3 == 0) entry = 300 - entry;
            if (entry != kUnknownEntry && trial % 5 == 0) entry -= 100;
        }
        expected = table;
        FillGapsOneByOne(expected);
        FillTableGaps(table);
        ASSERT_EQ(table, expected) << trial;
    }
}

// Known only at 50 (60) and 60 (80): 1, 2, ... from 0, steps of 2 between and
// above. Near the bottom the slope spans the entries that exist: 10/2, then
// 10 + (10 - 5)/2, then slopes over 2, 3, 4 and 5 entries.
TEST(ColumnTable, FillsGapsStepByStepAndExtrapolatesWithLastFiveEntries) {
    auto filled = [](std::vector<std::pair<int32_t, int32_t>> known) {
        std::vector<int32_t> table = UnknownTable();
        for (auto [raw, level] : known) table[raw] = level;
        FillTableGaps(table);
        return table;
    };
    const std::vector<int32_t> table = filled({{50, 60}, {60, 80}});
    for (int32_t b = 0; b <= 5; ++b) EXPECT_EQ(table[b], b + 1);
    EXPECT_EQ(table[45], 50);
    EXPECT_EQ(table[49], 58);
    for (int32_t b = 51; b < kTableSize; ++b) EXPECT_EQ(table[b], 62 + 2 * (b - 51));
    const std::vector<int32_t> low = filled({{2, 10}});
    EXPECT_EQ((std::vector<int32_t>(low.begin(), low.begin() + 7)), (std::vector<int32_t>{5, 7, 10, 12, 14, 16, 18}));
    EXPECT_EQ(filled({{0, 9}}), std::vector<int32_t>(kTableSize, 9));
    EXPECT_EQ(filled({}), UnknownTable());
}

// The window found once per run must pick the same points as testing every
// raw value against the bounds: random bounds (fractional, outside the
// table, NaN), random unknown entries, both flags.
TEST(ColumnTable, FitWindowPicksThePointsOfThePlainBoundTest) {
    std::mt19937 generator(9);
    std::uniform_real_distribution<float> bound(-20.0f, 280.0f);
    std::vector<float> x;
    std::vector<float> y;
    for (int trial = 0; trial < 2000; ++trial) {
        FitRange range{bound(generator), bound(generator)};
        if (trial % 50 == 0) range.lowBound = std::nanf("");
        if (trial % 7 == 0) range.lowBound = std::floor(range.lowBound);
        if (trial % 11 == 0) range.highBound = std::floor(range.highBound);
        const bool flagged = trial % 2 == 1;
        std::vector<int32_t> table(kTableSize);
        const uint32_t holeEvery = trial % 3 == 0 ? 0 : 2 + generator() % 60;
        for (int32_t raw = 0; raw < kTableSize; ++raw) {
            table[raw] = holeEvery != 0 && generator() % holeEvery == 0 ? kUnknownEntry
                                                                        : static_cast<int32_t>(generator() % 300);
        }
        std::vector<float> plainX;
        std::vector<float> plainY;
        for (int32_t raw = flagged ? 1 : 0; raw < kTableSize; ++raw) {
            const float value = static_cast<float>(raw);
            if (table[raw] == kUnknownEntry || !(range.lowBound < value) || !(value < range.highBound)) continue;
            plainX.push_back(value);
            plainY.push_back(static_cast<float>(table[raw]));
        }
        CollectFitPoints(table, FitWindowOf(flagged, range), x, y);
        ASSERT_EQ(x, plainX) << trial;
        ASSERT_EQ(y, plainY) << trial;
    }
}

TEST(ColumnTable, CachedDesignsFitLikeAFreshPolyfit) {
    std::mt19937 generator(5);
    FitDesignCache cache;
    for (int column = 0; column < 400; ++column) {
        // Mostly one range; sometimes another start or holes.
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
        ASSERT_EQ(std::memcmp(quadratic.data(), Polyfit(x, y, 2).data(), 3 * sizeof(float)), 0) << column;
        ASSERT_EQ(std::memcmp(cubic.data(), Polyfit(x, y, 3).data(), 4 * sizeof(float)), 0) << column;
    }
}

}  // namespace
}  // namespace ffc
