#include "calib/lowhigh/fit_range.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>

#include "support/random_groups.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

// The ripple of a group (listed in reverse column order) whose middle
// positions hold `middle` and whose other columns hold 99. A group of m + 7
// columns has exactly m middle positions, from position 4, for m from 9 to
// 12. The middle values sum to 0, so the group mean is 0 and the deviations
// are the values.
float RippleOfMiddle(const std::vector<float>& middle) {
    const size_t n = middle.size() + 7;
    std::vector<float> profile(n, 99.0f);
    std::vector<int32_t> group;
    for (size_t k = 0; k < n; ++k) group.push_back(static_cast<int32_t>(n - 1 - k));
    for (size_t j = 0; j < middle.size(); ++j) profile[group[4 + j]] = middle[j];
    return MeasureGroupRipple(profile, group);
}

TEST(RippleMeasure, AveragesPeakToTroughOfClosedPairs) {
    // Runs + - + - of three with extremes 2, -1, 3, -2: peaks 3 and 5.
    EXPECT_EQ(RippleOfMiddle({1, 2, 1, -1, -1, -1, 1, 3, 1, -2, -2, -2}), 4.0f);
    // A long + run after a short - run repeats the last sign and is skipped.
    EXPECT_EQ(RippleOfMiddle({1, 2, 1, 1, -9, 1, 5, 1, -1, -1, -1}), 3.0f);
    // The final run opens a pair that never closes: it is dropped.
    EXPECT_EQ(RippleOfMiddle({1, 1, 1, -2, -2, -2, 1, 1, 1}), 3.0f);
    // Runs of one or two only.
    EXPECT_EQ(RippleOfMiddle({1, 1, -1, -1, 1, -1, 1, 1, -1, -1}), kUnmeasuredRipple);
    // Ten columns, five middle values of 60: the mean is 300 / 6 = 50, every
    // deviation positive, and the only pair stays open.
    std::vector<float> profile(10, 0.0f);
    for (int k = 3; k <= 7; ++k) profile[k] = 60.0f;
    EXPECT_EQ(MeasureGroupRipple(profile, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), kUnmeasuredRipple);
}

// The ripple rule written plainly: list the middle values and their
// deviations, cut them into sign runs, pair the long runs, then average.
float PlainRipple(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    const double n = static_cast<double>(group.size());
    std::vector<float> middle;
    for (size_t k = 0; k < group.size(); ++k) {
        if (static_cast<double>(k) > 0.2 * n && static_cast<double>(k) < 0.8 * n) middle.push_back(profile[group[k]]);
    }
    float sum = 0.0f;
    for (float value : middle) sum += value;
    const float mean = static_cast<float>(static_cast<double>(sum) / (0.6 * n));
    std::vector<std::pair<int, float>> runs;  // sign, extreme
    std::vector<int> lengths;
    for (float value : middle) {
        const float deviation = value - mean;
        const int sign = deviation > 0.0f ? 1 : -1;
        if (runs.empty() || runs.back().first != sign) {
            runs.push_back({sign, deviation});
            lengths.push_back(1);
        } else {
            ++lengths.back();
            runs.back().second = sign > 0 ? std::max(runs.back().second, deviation) : std::min(runs.back().second, deviation);
        }
    }
    std::vector<float> peaks;
    int firstSign = 0;
    int lastSign = 0;
    bool open = false;
    for (size_t r = 0; r < runs.size(); ++r) {
        if (lengths[r] < 3 || runs[r].first == lastSign) continue;
        if (lastSign == 0 || runs[r].first == firstSign) {
            if (lastSign == 0) firstSign = runs[r].first;
            peaks.push_back(runs[r].second);
            open = true;
        } else {
            peaks.back() = std::fabs(peaks.back() - runs[r].second);
            open = false;
        }
        lastSign = runs[r].first;
    }
    if (open) peaks.pop_back();
    if (peaks.size() <= middle.size() / 20) return kUnmeasuredRipple;
    float peakSum = 0.0f;
    for (float peak : peaks) peakSum += peak;
    return peakSum / static_cast<float>(peaks.size());
}

// Random groups of every small size and some large ones, smooth and noisy
// profiles with ties to the mean: the measure matches the plain rule bit for bit.
TEST(RippleMeasure, MatchesThePlainRuleOnRandomGroups) {
    std::mt19937 generator(3);
    for (int trial = 0; trial < 3000; ++trial) {
        const testing::RandomGroupCase groupCase = testing::MakeRandomGroupCase(generator, trial, 400, 12);
        const std::vector<float>& profile = groupCase.profile;
        const std::vector<int32_t>& group = groupCase.group;
        const float expected = PlainRipple(profile, group);
        const float measured = MeasureGroupRipple(profile, group);
        ASSERT_EQ(std::memcmp(&expected, &measured, sizeof(float)), 0) << trial;
    }
}

TEST(FitRange, HighImageIsThePeakBeforeASustainedFall) {
    EXPECT_EQ(MovingAverage3({3, 6, 12}), (std::vector<float>{4.5f, 7.0f, 9.0f}));
    EXPECT_EQ(MovingAverage3({5}), (std::vector<float>{5.0f}));
    const std::vector<float> smoothed = {1, 2, 3, 2.5f, 2, 1.5f, 1, 0.5f};
    EXPECT_EQ(Differences(smoothed), (std::vector<float>{1, 1, -0.5f, -0.5f, -0.5f, -0.5f, -0.5f}));
    EXPECT_EQ(FindSustainedDrop(smoothed, Differences(smoothed)), 2);
    // A fall interrupted within four steps does not count; one cut short by
    // the end of the list does.
    const std::vector<float> bumpy = {1, 3, 2, 4, 5, 4, 3};
    EXPECT_EQ(FindSustainedDrop(bumpy, Differences(bumpy)), 4);
    const std::vector<float> rising = {1, 2, 3, 4};
    EXPECT_EQ(FindSustainedDrop(rising, Differences(rising)), 3);
}

TEST(FitRange, BoundsComeFromMediansWidenedTo35And180) {
    // Without groups the low image is the first and the high image the last:
    // the lower median of one, the upper median of the other.
    const FitRange medians = ChooseFitRange({{90, 10, 40, 20}, {250, 150, 210, 190}}, {}, 4);
    EXPECT_EQ(medians.lowBound, 20.0f);
    EXPECT_EQ(medians.highBound, 210.0f);
    const FitRange widened = ChooseFitRange({{50, 50, 50}, {140, 140, 140}}, {}, 3);
    EXPECT_EQ(widened.lowBound, 35.0f);
    EXPECT_EQ(widened.highBound, 180.0f);

    // One group of 20: image 0 is flat, image 1 ripples over its middle
    // positions 5..15 and becomes the low image (lower median 1, not 10).
    std::vector<int32_t> group;
    for (int32_t c = 0; c < 20; ++c) group.push_back(c);
    const std::vector<float> flat(20, 10.0f);
    std::vector<float> rippled(20, 30.0f);
    const std::vector<float> middle = {1, 1, 1, -1, -1, -1, -1, -1, 1, 1, 0};
    std::copy(middle.begin(), middle.end(), rippled.begin() + 5);
    EXPECT_EQ(ChooseFitRange({flat, rippled}, {group}, 20).lowBound, 1.0f);
}

}  // namespace
}  // namespace ffc
