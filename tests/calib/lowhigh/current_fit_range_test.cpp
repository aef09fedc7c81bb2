#include "calib/lowhigh/current_fit_range.h"

#include <algorithm>

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

TEST(CurrentRippleMeasure, AveragesPeakToTroughOfClosedPairs) {
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
    // Five columns: middle positions 2 and 3 only.
    EXPECT_EQ(MeasureGroupRipple({1, 1, 5, -5, 1}, {0, 1, 2, 3, 4}), kUnmeasuredRipple);
    // 34 columns have 21 middle positions (7..27): one closed pair is not
    // more than 21 / 20, two are. Zeros deviate by 0 and count as negative.
    std::vector<int32_t> wide(34);
    for (int32_t k = 0; k < 34; ++k) wide[k] = k;
    std::vector<float> onePair(34, 0.0f);
    std::vector<float> twoPairs(34, 0.0f);
    const std::vector<float> pairs = {1, 1, 1, -1, -1, -1, 1, 1, 1, -1, -1, -1};
    std::copy(pairs.begin(), pairs.begin() + 6, onePair.begin() + 7);
    std::copy(pairs.begin(), pairs.end(), twoPairs.begin() + 7);
    EXPECT_EQ(MeasureGroupRipple(onePair, wide), kUnmeasuredRipple);
    EXPECT_EQ(MeasureGroupRipple(twoPairs, wide), 2.0f);
}

TEST(CurrentFitRange, HighImageIsThePeakBeforeASustainedFall) {
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

TEST(CurrentFitRange, BoundsComeFromMediansWidenedTo35And180) {
    // Without groups the low image is the first and the high image the last:
    // the lower median of one, the upper median of the other.
    const FitRange medians = CurrentGenerationFitRange({{90, 10, 40, 20}, {250, 150, 210, 190}}, {}, 4);
    EXPECT_EQ(medians.lowBound, 20.0f);
    EXPECT_EQ(medians.highBound, 210.0f);
    const FitRange widened = CurrentGenerationFitRange({{50, 50, 50}, {140, 140, 140}}, {}, 3);
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
    EXPECT_EQ(CurrentGenerationFitRange({flat, rippled}, {group}, 20).lowBound, 1.0f);
}

}  // namespace
}  // namespace ffc
