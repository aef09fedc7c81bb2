#include <stdexcept>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "eval/correction_fixtures.h"
#include "eval/dark_range.h"

namespace ffc {
namespace {

using testing::ConstantInstance;
using testing::FlagColumn;
using testing::RowImage;
using testing::RowValues;

bool CorrectCurrent(FlatFieldCorrectionInstance& instance, const cv::Mat& input, cv::Mat& output, int mode) {
    return TestFlatFieldCorrectionTool_NewNew(&instance, &input, &output, mode);
}

bool CorrectPrevious(FlatFieldCorrectionInstance& instance, const cv::Mat& input, cv::Mat& output, int mode) {
    return TestFlatFieldCorrectionTool(&instance, &input, &output, mode);
}

TEST(DarkRange, ClampPicksTheRangeNearerToTheRunningValue) {
    EXPECT_EQ(ClampToDarkRange({10, 20}, 50), 20);
    EXPECT_EQ(ClampToDarkRange({10, 20}, -4), 10);
    EXPECT_EQ(ClampToDarkRange({0, 12, 40, 60}, 30), 40);  // 18 from 12, 10 from 40
    EXPECT_EQ(ClampToDarkRange({0, 12, 40, 60}, 20), 12);
    EXPECT_EQ(ClampToDarkRange({0, 12, 40, 60}, 26), 40);  // a tie takes the second range
    EXPECT_EQ(ClampToDarkRange({7}, 100), 7);
    EXPECT_EQ(ClampToDarkRange({5, 9, 100}, 50), 9);
    EXPECT_THROW(
        {
            try {
                ClampToDarkRange({}, 3);
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), "Vector is empty");
                throw;
            }
        },
        std::invalid_argument);
}

TEST(DarkRange, ClosestValueTakesTheEarliestOfEquallyNearCandidates) {
    EXPECT_EQ(FindClosestValue({10, 30, 20}, 25), 30);
    EXPECT_EQ(FindClosestValue({300, -5}, 0), -5);
    EXPECT_THROW(FindClosestValue({}, 0), std::invalid_argument);
}

TEST(CommonStart, RejectsInputsTheInstanceCannotCorrectWithoutTouchingTheOutput) {
    FlatFieldCorrectionInstance instance = ConstantInstance(4, 50.0f);
    cv::Mat output(2, 4, CV_8UC1, cv::Scalar(7));
    const uint8_t* buffer = output.data;
    for (int cols : {3, 5}) EXPECT_FALSE(CorrectCurrent(instance, cv::Mat(2, cols, CV_8UC1, cv::Scalar(1)), output, 0));
    EXPECT_FALSE(CorrectCurrent(instance, cv::Mat(2, 4, CV_8UC3, cv::Scalar(1)), output, 0));
    EXPECT_FALSE(CorrectCurrent(instance, cv::Mat(0, 4, CV_8UC1), output, 0));
    EXPECT_FALSE(TestFlatFieldCorrectionTool_NewNew(nullptr, &output, &output, 0));
    const cv::Mat input(2, 4, CV_8UC1, cv::Scalar(1));
    EXPECT_FALSE(TestFlatFieldCorrectionTool(&instance, &input, nullptr, 0));

    // Tables that do not cover every column: only the modes reading them fail.
    instance.quadCoeffs.pop_back();
    EXPECT_FALSE(CorrectCurrent(instance, input, output, 0));
    EXPECT_FALSE(CorrectCurrent(instance, input, output, 6));
    EXPECT_FALSE(CorrectPrevious(instance, input, output, 6));
    instance.columnLuts[3].pop_back();
    EXPECT_FALSE(CorrectCurrent(instance, input, output, 4));
    EXPECT_FALSE(CorrectPrevious(instance, input, output, 5));
    EXPECT_EQ(output.data, buffer);
    EXPECT_EQ(cv::countNonZero(output != 7), 0);

    EXPECT_TRUE(CorrectCurrent(instance, input, output, 1));
    EXPECT_EQ(RowValues(output, 1), (std::vector<int>{50, 50, 50, 50}));
}

TEST(CommonStart, OverwritesAnOutputOfTheRightSizeInPlaceAndReplacesOthers) {
    FlatFieldCorrectionInstance instance = ConstantInstance(3, 0.0f);
    instance.quadCoeffs = {{-3.0f}, {300.0f}, {10.0f, 1.0f}};
    const cv::Mat input = RowImage({9, 9, 9});
    cv::Mat output(1, 3, CV_8UC1, cv::Scalar(77));
    const uint8_t* buffer = output.data;
    ASSERT_TRUE(CorrectCurrent(instance, input, output, 0));
    EXPECT_EQ(output.data, buffer);
    EXPECT_EQ(RowValues(output), (std::vector<int>{0, 255, 19}));

    for (cv::Mat other : {cv::Mat(), cv::Mat(2, 3, CV_8UC1), cv::Mat(1, 4, CV_32FC1)}) {
        ASSERT_TRUE(CorrectCurrent(instance, input, other, 0));
        EXPECT_EQ(other.type(), CV_8UC1);
        EXPECT_EQ(other.size(), input.size());
        EXPECT_EQ(RowValues(other), (std::vector<int>{0, 255, 19}));
    }
    // The input's height is not compared with the configured height.
    instance.imageHeight = 5;
    EXPECT_TRUE(CorrectCurrent(instance, input, output, 0));
}

TEST(DarkPixels, LeadingDarkRunFillsBackwardsInModeFiveAndForwardsInModeSix) {
    FlatFieldCorrectionInstance instance = ConstantInstance(3, 50.0f);
    FlagColumn(instance, 0, {10, 20});
    FlagColumn(instance, 1, {5, 8});
    const cv::Mat input = RowImage({0, 0, 40});
    cv::Mat output;
    ASSERT_TRUE(CorrectCurrent(instance, input, output, 5));
    EXPECT_EQ(RowValues(output), (std::vector<int>{10, 8, 50}));
    ASSERT_TRUE(CorrectCurrent(instance, input, output, 6));
    EXPECT_EQ(RowValues(output), (std::vector<int>{50, 8, 50}));
    ASSERT_TRUE(CorrectPrevious(instance, input, output, 6));
    EXPECT_EQ(RowValues(output), (std::vector<int>{50, 8, 50}));
    // The previous generation's mode 5 maps the regular pixel through its table.
    ASSERT_TRUE(CorrectPrevious(instance, input, output, 5));
    EXPECT_EQ(RowValues(output), (std::vector<int>{10, 8, 40}));
}

TEST(DarkPixels, DarkPixelAfterRegularOneTakesTheNearerOfTwoRanges) {
    FlatFieldCorrectionInstance instance = ConstantInstance(3, 30.0f);
    FlagColumn(instance, 1, {0, 12, 40, 60});
    const cv::Mat input = RowImage({5, 0, 5});
    cv::Mat output;
    for (int mode : {5, 6, 9}) {
        ASSERT_TRUE(CorrectCurrent(instance, input, output, mode));
        EXPECT_EQ(RowValues(output), (std::vector<int>{30, 40, 30})) << "mode " << mode;
    }
}

TEST(DarkPixels, RowDarkFromEndToEndStartsFromTheRunningValueOfThePreviousRow) {
    FlatFieldCorrectionInstance instance = ConstantInstance(2, 50.0f);
    FlagColumn(instance, 0, {10, 20});
    FlagColumn(instance, 1, {30, 40});
    cv::Mat input(2, 2, CV_8UC1, cv::Scalar(0));
    input.at<uint8_t>(0, 0) = 5;
    input.at<uint8_t>(0, 1) = 5;
    cv::Mat output;
    ASSERT_TRUE(CorrectCurrent(instance, input, output, 5));
    EXPECT_EQ(RowValues(output, 1), (std::vector<int>{20, 40}));
    ASSERT_TRUE(CorrectCurrent(instance, input, output, 6));
    EXPECT_EQ(RowValues(output, 1), (std::vector<int>{20, 30}));

    // On the first row the running value starts at 0.
    const cv::Mat dark = RowImage({0, 0});
    ASSERT_TRUE(CorrectCurrent(instance, dark, output, 5));
    EXPECT_EQ(RowValues(output), (std::vector<int>{20, 30}));
    ASSERT_TRUE(CorrectCurrent(instance, dark, output, 6));
    EXPECT_EQ(RowValues(output), (std::vector<int>{10, 30}));
}

TEST(DarkPixels, RunningValueKeepsRangeValuesBeyondAByte) {
    FlatFieldCorrectionInstance instance = ConstantInstance(3, 50.0f);
    FlagColumn(instance, 1, {300, 310});
    FlagColumn(instance, 2, {290, 400});
    cv::Mat output;
    ASSERT_TRUE(CorrectCurrent(instance, RowImage({5, 0, 0}), output, 6));
    // 300 is written as its low byte 44 but carried on as 300, not as 44.
    EXPECT_EQ(RowValues(output), (std::vector<int>{50, 44, 44}));
}

TEST(DarkPixels, EmptyRangeListThrowsLeavingWhatWasWrittenSoFar) {
    FlatFieldCorrectionInstance instance = ConstantInstance(4, 50.0f);
    FlagColumn(instance, 2, {});
    const FlatFieldCorrectionInstance before = instance;
    const cv::Mat input = RowImage({5, 5, 0, 5});
    cv::Mat output(1, 4, CV_8UC1, cv::Scalar(7));
    EXPECT_THROW(CorrectCurrent(instance, input, output, 6), std::invalid_argument);
    EXPECT_EQ(RowValues(output), (std::vector<int>{50, 50, 7, 7}));
    EXPECT_EQ(instance.columnDarkRanges, before.columnDarkRanges);
    EXPECT_EQ(instance.quadCoeffs, before.quadCoeffs);
}

TEST(Gains, ModesFiveSixAndDefaultWriteZeroForRegularPixelsBeforeAnyRun) {
    FlatFieldCorrectionInstance instance = ConstantInstance(2, 50.0f);
    instance.quadGain = instance.cubicGain = instance.rangeGain = 0.0f;
    FlagColumn(instance, 1, {10, 20});
    const cv::Mat input = RowImage({5, 0});
    cv::Mat output;
    for (int mode : {5, 6, -1}) {
        ASSERT_TRUE(CorrectCurrent(instance, input, output, mode));
        EXPECT_EQ(RowValues(output), (std::vector<int>{0, 10}));
        ASSERT_TRUE(CorrectPrevious(instance, input, output, mode));
        EXPECT_EQ(RowValues(output), (std::vector<int>{0, 10}));
    }
}

TEST(Gains, UnlistedModesUseTheCubicPolynomialsAndCubicGain) {
    FlatFieldCorrectionInstance instance = ConstantInstance(2, 50.0f);
    instance.cubicCoeffs.assign(2, {100.0f, 0.0f, 0.0f, 0.0f});
    instance.cubicGain = 2.0f;
    instance.rangeGain = 0.5f;
    const cv::Mat input = RowImage({5, 6});
    cv::Mat output;
    for (int mode : {2, 3, -1, 7}) {
        ASSERT_TRUE(CorrectCurrent(instance, input, output, mode));
        EXPECT_EQ(RowValues(output), (std::vector<int>{200, 200}));
        ASSERT_TRUE(CorrectPrevious(instance, input, output, mode));
        EXPECT_EQ(RowValues(output), (std::vector<int>{50, 50}));
    }
    ASSERT_TRUE(CorrectCurrent(instance, input, output, 1));
    EXPECT_EQ(RowValues(output), (std::vector<int>{100, 100}));
}

TEST(Gains, PreviousGenerationModeFiveScalesTheTableValueByTheRangeGain) {
    FlatFieldCorrectionInstance instance = ConstantInstance(2, 0.0f);
    instance.columnLuts[0][3] = 200;
    instance.columnLuts[1][3] = 100;
    instance.rangeGain = 1.4166666f;
    cv::Mat output;
    ASSERT_TRUE(CorrectPrevious(instance, RowImage({3, 3}), output, 5));
    EXPECT_EQ(RowValues(output), (std::vector<int>{255, 141}));
}

// Identity tables hold raw 255 as a hole; candidates per column decide fills.
FlatFieldCorrectionInstance HoleInstance(int width) {
    FlatFieldCorrectionInstance instance = ConstantInstance(width, 0.0f);
    instance.lutHoleCandidates.resize(width, std::vector<std::vector<int32_t>>(256));
    return instance;
}

TEST(HoleFilling, LeadingHolesFillRightToLeftAndInnerHolesFromTheLeft) {
    FlatFieldCorrectionInstance instance = HoleInstance(5);
    instance.lutHoleCandidates[0][255] = {7, 100};
    instance.lutHoleCandidates[1][255] = {60, 9};
    instance.lutHoleCandidates[3][255] = {45, 140};
    cv::Mat output;
    ASSERT_TRUE(CorrectCurrent(instance, RowImage({255, 255, 50, 255, 150}), output, 4));
    EXPECT_EQ(RowValues(output), (std::vector<int>{100, 60, 50, 45, 150}));
}

TEST(HoleFilling, ListedColumnsChangeWhichRawValueIsAHole) {
    FlatFieldCorrectionInstance instance = HoleInstance(3);
    for (int p = 0; p < 256; ++p) instance.columnLuts[1][p] = 2 * p;  // stored as its low 8 bits
    instance.lutExactColumns = {1};
    instance.lutDarkHoleColumns = {2};
    instance.lutHoleCandidates[2][0] = {33};
    cv::Mat output;
    ASSERT_TRUE(CorrectPrevious(instance, RowImage({200, 255, 0}), output, 4));
    EXPECT_EQ(RowValues(output), (std::vector<int>{200, 254, 33}));
}

TEST(HoleFilling, RowsWithoutMappedPixelsEndAsZeroAndMissingCandidatesThrow) {
    FlatFieldCorrectionInstance instance = HoleInstance(2);
    instance.lutHoleCandidates[1][255] = {12};
    cv::Mat input(2, 2, CV_8UC1, cv::Scalar(255));
    input.at<uint8_t>(1, 0) = 10;
    cv::Mat output(2, 2, CV_8UC1, cv::Scalar(7));
    EXPECT_FALSE(CorrectCurrent(instance, input, output, 4));
    EXPECT_EQ(RowValues(output, 0), (std::vector<int>{0, 0}));
    EXPECT_EQ(RowValues(output, 1), (std::vector<int>{10, 12}));

    instance.lutHoleCandidates.resize(1);
    EXPECT_THROW(CorrectCurrent(instance, input, output, 4), std::invalid_argument);
}

}  // namespace
}  // namespace ffc
