#include "calib/lowhigh/fit_range.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

// The ripple of a group whose middle positions (and nothing else) hold the
// given deviations. They sum to 0, so the group mean is exactly 0.
float RippleOfMiddleDeviations(const std::vector<float>& deviations) {
    size_t n = deviations.size();
    size_t firstMiddle = 0;
    for (;; ++n) {
        firstMiddle = static_cast<size_t>(0.2 * n) + 1;
        const size_t middleCount = static_cast<size_t>(0.8 * n - 1e-9) + 1 - firstMiddle;
        if (middleCount == deviations.size()) break;
    }
    std::vector<float> profile(n, 99.0f);
    std::vector<int32_t> group;
    for (size_t k = 0; k < n; ++k) group.push_back(static_cast<int32_t>(n - 1 - k));
    for (size_t j = 0; j < deviations.size(); ++j) profile[group[firstMiddle + j]] = deviations[j];
    return MeasureGroupRipple(profile, group);
}

TEST(GroupRipple, AveragesPeakToTroughOfClosedPairs) {
    // Runs + - + - of three with extremes 2, -1, 3, -2: peaks 3 and 5.
    EXPECT_EQ(RippleOfMiddleDeviations({1, 2, 1, -1, -1, -1, 1, 3, 1, -2, -2, -2}), 4.0f);
    // A long + run after a short - run repeats the last sign and is skipped.
    EXPECT_EQ(RippleOfMiddleDeviations({1, 2, 1, 1, -9, 1, 5, 1, -1, -1, -1}), 3.0f);
    // The final run opens a pair that never closes: it is dropped.
    EXPECT_EQ(RippleOfMiddleDeviations({1, 1, 1, -2, -2, -2, 1, 1, 1}), 3.0f);
}

TEST(GroupRipple, IsUnmeasuredWithoutClosedPairs) {
    EXPECT_EQ(RippleOfMiddleDeviations({1, 1, -1, -1, 1, -1, 1, 1, -1, -1}), kUnmeasuredRipple);
    // Ten columns, five middle values of 60: the mean is 300 / 6 = 50, so every
    // deviation is positive and the only pair stays open.
    std::vector<float> profile(10, 0.0f);
    for (int k = 3; k <= 7; ++k) profile[k] = 60.0f;
    EXPECT_EQ(MeasureGroupRipple(profile, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), kUnmeasuredRipple);
    // Five columns leave two middle positions.
    EXPECT_EQ(MeasureGroupRipple({0, 9, -9, 0, 0}, {0, 1, 2, 3, 4}), kUnmeasuredRipple);
}

TEST(FitRange, SmoothsWithClippedWindowAndDifferences) {
    EXPECT_EQ(MovingAverage3({3, 6, 12}), (std::vector<float>{4.5f, 7.0f, 9.0f}));
    EXPECT_EQ(MovingAverage3({5}), (std::vector<float>{5.0f}));
    EXPECT_EQ(Differences({1, 4, 2}), (std::vector<float>{3.0f, -2.0f}));
    EXPECT_TRUE(Differences({1}).empty());
}

TEST(FitRange, HighImageIsThePeakBeforeASustainedFall) {
    const std::vector<float> smoothed = {1, 2, 3, 2.5f, 2, 1.5f, 1, 0.5f};
    EXPECT_EQ(FindSustainedDrop(smoothed, Differences(smoothed)), 2);
    // A fall interrupted within four steps is not sustained; the short fall at
    // the very end is, as the list ends.
    const std::vector<float> bumpy = {1, 3, 2, 4, 5, 4, 3};
    EXPECT_EQ(FindSustainedDrop(bumpy, Differences(bumpy)), 4);
    const std::vector<float> rising = {1, 2, 3, 4};
    EXPECT_EQ(FindSustainedDrop(rising, Differences(rising)), 3);
    EXPECT_EQ(FindSustainedDrop({7}, {}), 0);
}

TEST(FitRange, BoundsComeFromMediansWidenedTo35And180) {
    // Without groups the low image is the first and the high image the last.
    // Lower median of the low image, upper median of the high image.
    EXPECT_EQ(ChooseFitRange({{90, 10, 40, 20}, {250, 150, 210, 190}}, {}, 4).lowBound, 20.0f);
    EXPECT_EQ(ChooseFitRange({{90, 10, 40, 20}, {250, 150, 210, 190}}, {}, 4).highBound, 210.0f);
    const FitRange widened = ChooseFitRange({{50, 50, 50}, {140, 140, 140}}, {}, 3);
    EXPECT_EQ(widened.lowBound, 35.0f);
    EXPECT_EQ(widened.highBound, 180.0f);
}

TEST(FitRange, LowImageIsTheFirstWhereNearlyEveryGroupRipples) {
    // One group of 20 columns: image 0 is flat (no closed pair), image 1
    // ripples over its middle positions 5..15, whose values sum to 0.
    std::vector<int32_t> group;
    for (int32_t c = 0; c < 20; ++c) group.push_back(c);
    const std::vector<float> flat(20, 10.0f);
    std::vector<float> rippled(20, 30.0f);
    const std::vector<float> middle = {1, 1, 1, -1, -1, -1, -1, -1, 1, 1, 0};
    for (size_t j = 0; j < middle.size(); ++j) rippled[5 + j] = middle[j];
    // The lower median of image 1 is 1; that of image 0 would be 10.
    EXPECT_EQ(ChooseFitRange({flat, rippled}, {group}, 20).lowBound, 1.0f);
    EXPECT_EQ(ChooseFitRange({flat, flat}, {group}, 20).lowBound, 10.0f);
}

}  // namespace
}  // namespace ffc
