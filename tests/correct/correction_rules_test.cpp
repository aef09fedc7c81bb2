#include <stdexcept>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "correct/fill_choices.h"
#include "instance/instance.h"
#include "support/instance_bytes.h"

namespace ffc {
namespace {

using Row = std::vector<int>;

// Every column's polynomials are the constant `value` (gains 1), no column is
// flagged, and every column's table is the identity.
FlatFieldCorrectionInstance ConstantInstance(int width, float value) {
    FlatFieldCorrectionInstance instance;
    instance.imageWidth = width;
    instance.quadCoeffs.assign(width, {value, 0.0f, 0.0f});
    instance.cubicCoeffs.assign(width, {value, 0.0f, 0.0f, 0.0f});
    instance.quadGain = instance.cubicGain = instance.rangeGain = 1.0f;
    instance.columnLuts.assign(width, std::vector<int32_t>(256));
    for (std::vector<int32_t>& lut : instance.columnLuts) {
        for (int p = 0; p < 256; ++p) lut[p] = p;
    }
    return instance;
}

void FlagColumn(FlatFieldCorrectionInstance& instance, int column, std::vector<int32_t> ranges) {
    instance.columnFlags.resize(instance.imageWidth, 0);
    instance.columnDarkRanges.resize(instance.imageWidth);
    instance.columnFlags[column] = -1;
    instance.columnDarkRanges[column] = std::move(ranges);
}

cv::Mat RowImage(std::vector<uint8_t> row) {
    return cv::Mat(1, static_cast<int>(row.size()), CV_8UC1, row.data()).clone();
}

Row RowValues(const cv::Mat& image, int row = 0) {
    return Row(image.ptr<uint8_t>(row), image.ptr<uint8_t>(row) + image.cols);
}

bool Correct(FlatFieldCorrectionInstance& instance, const cv::Mat& input, cv::Mat& output, int mode,
             bool previous = false) {
    return previous ? TestFlatFieldCorrectionTool(&instance, &input, &output, mode)
                    : TestFlatFieldCorrectionTool_NewNew(&instance, &input, &output, mode);
}

// The corrected values of a one-row image; empty when the test returns false.
Row CorrectRow(FlatFieldCorrectionInstance& instance, const std::vector<uint8_t>& row, int mode,
               bool previous = false) {
    cv::Mat output;
    return Correct(instance, RowImage(row), output, mode, previous) ? RowValues(output) : Row{};
}

template <class F>
std::string ThrownMessage(F f) {
    try {
        f();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

TEST(DarkRange, ClampAndClosestValueChooseAsTheirListsSay) {
    EXPECT_EQ(ClampToDarkRange({10, 20}, 50), 20);
    EXPECT_EQ(ClampToDarkRange({10, 20}, -4), 10);
    EXPECT_EQ(ClampToDarkRange({0, 12, 40, 60}, 30), 40);  // 18 from 12, 10 from 40
    EXPECT_EQ(ClampToDarkRange({0, 12, 40, 60}, 20), 12);
    EXPECT_EQ(ClampToDarkRange({0, 12, 40, 60}, 26), 40);  // a tie takes the second range
    EXPECT_EQ(ClampToDarkRange({7}, 100), 7);
    EXPECT_EQ(ClampToDarkRange({5, 9, 100}, 50), 9);
    EXPECT_EQ(FindClosestValue({10, 30, 20}, 25), 30);  // the earliest of equally near
    EXPECT_EQ(FindClosestValue({300, -5}, 0), -5);
    EXPECT_EQ(ThrownMessage([] { ClampToDarkRange({}, 3); }), "Vector is empty");
    EXPECT_EQ(ThrownMessage([] { FindClosestValue({}, 3); }), "Vector is empty");
    // The C++ interface tells the two apart by type alone.
    EXPECT_THROW(ClampToDarkRange({}, 3), NoDarkRangeError);
    EXPECT_THROW(FindClosestValue({}, 3), NoHoleCandidateError);
}

// The call contract of both exports, whatever the mode: what the instance
// cannot correct is refused before the output is touched; an accepted call
// writes an 8-bit output of the input's size in place and replaces any other
// (another size or type) by a new 8-bit image. The input's height is not
// compared with the instance's, and the instance is only read.
TEST(CommonStart, RefusesWhatItCannotCorrectAndReusesOnlyAnOutputOfTheInputsSize) {
    FlatFieldCorrectionInstance full = ConstantInstance(4, 50.0f);
    full.quadCoeffs = {{-3.0f}, {300.0f}, {10.0f, 1.0f}, {50.0f}};
    full.imageHeight = 5;
    FlatFieldCorrectionInstance shortCoefficients = full, shortTables = full;
    shortCoefficients.quadCoeffs.pop_back();
    shortTables.columnLuts[3].pop_back();
    const cv::Mat nine(1, 4, CV_8UC1, cv::Scalar(9)), filled(1, 4, CV_8UC1, cv::Scalar(7));
    cv::Mat colour, deep;
    cv::merge(std::vector<cv::Mat>(3, nine), colour);
    nine.convertTo(deep, CV_16U);
    const cv::Mat wider(2, 6, CV_8UC1, cv::Scalar(9));
    using Modes = std::vector<std::pair<int, bool>>;  // mode, previous generation
    const Modes zero = {{0, false}, {0, true}};
    const std::tuple<const FlatFieldCorrectionInstance*, cv::Mat, cv::Mat, Modes, bool> cases[] = {
        {&full, cv::Mat(1, 3, CV_8UC1, cv::Scalar(9)), filled, zero, false},  // one column fewer
        {&full, colour, filled, zero, false},
        {&full, deep, filled, zero, false},
        {&full, cv::Mat(0, 4, CV_8UC1), filled, zero, false},
        {&shortCoefficients, nine, filled, {{0, false}, {5, false}, {6, false}, {6, true}}, false},
        {&shortTables, nine, filled, {{4, false}, {5, true}}, false},
        {&full, nine, filled, zero, true},
        {&full, nine, cv::Mat(1, 4, CV_32FC1, cv::Scalar(-1)), zero, true},
        {&full, nine, cv::Mat(), zero, true},
        {&full, nine, cv::Mat(2, 4, CV_8UC1), zero, true},
        {&full, nine, cv::Mat(1, 3, CV_8UC1), zero, true},
        {&full, wider(cv::Rect(1, 0, 4, 2)), cv::Mat(), zero, true},  // a view as input
    };
    int index = 0;
    for (const auto& [original, input, given, modes, accepted] : cases) {
        ++index;
        for (const auto& [mode, previous] : modes) {
            SCOPED_TRACE("case " + std::to_string(index) + ", mode " + std::to_string(mode));
            FlatFieldCorrectionInstance instance = *original;
            const std::string before = testing::InstanceBytes(instance);
            cv::Mat output = given.clone();
            const uint8_t* buffer = output.data;
            ASSERT_EQ(Correct(instance, input, output, mode, previous), accepted);
            EXPECT_TRUE(testing::InstanceBytes(instance) == before);
            if (!accepted) {
                EXPECT_TRUE(output.data == buffer && cv::norm(output, given, cv::NORM_INF) == 0.0);
                continue;
            }
            EXPECT_EQ(output.data == buffer, given.size() == input.size() && given.type() == CV_8UC1);
            EXPECT_EQ(output.type(), CV_8UC1);
            EXPECT_EQ(RowValues(cv::Mat(1, 4, CV_8UC1, output.data)), (Row{0, 255, 19, 50}));
        }
    }
}

TEST(DarkPixels, LeadingDarkRunFillsBackwardsInModeFiveAndForwardsInModeSix) {
    FlatFieldCorrectionInstance instance = ConstantInstance(3, 50.0f);
    FlagColumn(instance, 0, {10, 20});
    FlagColumn(instance, 1, {5, 8});
    EXPECT_EQ(CorrectRow(instance, {0, 0, 40}, 5), (Row{10, 8, 50}));
    EXPECT_EQ(CorrectRow(instance, {0, 0, 40}, 6), (Row{50, 8, 50}));
    EXPECT_EQ(CorrectRow(instance, {0, 0, 40}, 6, true), (Row{50, 8, 50}));
    // The previous generation's mode 5 maps the regular pixel through its table.
    EXPECT_EQ(CorrectRow(instance, {0, 0, 40}, 5, true), (Row{10, 8, 40}));
    // A dark pixel after a regular one starts from that pixel's value.
    FlagColumn(instance, 2, {0, 12, 40, 60});
    instance.quadCoeffs[1] = {30.0f};
    instance.preparedTables.Drop();  // as a run does when it writes results
    EXPECT_EQ(CorrectRow(instance, {5, 5, 0}, 5), (Row{50, 30, 40}));
    // 300 is written as its low byte 44 but carried on as 300, not as 44.
    FlagColumn(instance, 1, {300, 310});
    FlagColumn(instance, 2, {290, 400});
    EXPECT_EQ(CorrectRow(instance, {5, 0, 0}, 6), (Row{50, 44, 44}));
}

TEST(DarkPixels, RowDarkFromEndToEndStartsFromTheRunningValueOfThePreviousRow) {
    FlatFieldCorrectionInstance instance = ConstantInstance(2, 50.0f);
    FlagColumn(instance, 0, {10, 20});
    FlagColumn(instance, 1, {30, 40});
    cv::Mat input(2, 2, CV_8UC1, cv::Scalar(0));
    input.row(0).setTo(5);
    cv::Mat output;
    ASSERT_TRUE(Correct(instance, input, output, 5));
    EXPECT_EQ(RowValues(output, 1), (Row{20, 40}));
    ASSERT_TRUE(Correct(instance, input, output, 6));
    EXPECT_EQ(RowValues(output, 1), (Row{20, 30}));
    // On the first row the running value starts at 0.
    EXPECT_EQ(CorrectRow(instance, {0, 0}, 5), (Row{20, 30}));
    EXPECT_EQ(CorrectRow(instance, {0, 0}, 6), (Row{10, 30}));
}

TEST(DarkPixels, EmptyRangeListThrowsLeavingWhatWasWrittenSoFar) {
    FlatFieldCorrectionInstance instance = ConstantInstance(4, 50.0f);
    FlagColumn(instance, 2, {});
    const FlatFieldCorrectionInstance before = instance;
    const cv::Mat input = RowImage({5, 5, 0, 5});
    cv::Mat output(1, 4, CV_8UC1, cv::Scalar(7));
    EXPECT_EQ(ThrownMessage([&] { Correct(instance, input, output, 6); }), "Vector is empty");
    EXPECT_EQ(RowValues(output), (Row{50, 50, 7, 7}));
    EXPECT_EQ(instance.columnDarkRanges, before.columnDarkRanges);
    EXPECT_EQ(instance.quadCoeffs, before.quadCoeffs);
}

TEST(Gains, EachModeAppliesItsGenerationsGain) {
    FlatFieldCorrectionInstance instance = ConstantInstance(2, 50.0f);
    instance.cubicCoeffs.assign(2, {100.0f, 0.0f, 0.0f, 0.0f});
    instance.cubicGain = 2.0f;
    instance.rangeGain = 0.5f;
    for (int mode : {2, 3, -1, 7}) {
        EXPECT_EQ(CorrectRow(instance, {5, 6}, mode), (Row{200, 200}));
        EXPECT_EQ(CorrectRow(instance, {5, 6}, mode, true), (Row{50, 50}));
    }
    EXPECT_EQ(CorrectRow(instance, {5, 6}, 1), (Row{100, 100}));
    // Before any run every gain is 0; dark pixels still take their ranges.
    instance.quadGain = instance.cubicGain = instance.rangeGain = 0.0f;
    instance.preparedTables.Drop();  // as a run does when it writes results
    FlagColumn(instance, 1, {10, 20});
    for (int mode : {5, 6, -1}) {
        EXPECT_EQ(CorrectRow(instance, {5, 0}, mode), (Row{0, 10}));
        EXPECT_EQ(CorrectRow(instance, {5, 0}, mode, true), (Row{0, 10}));
    }
    // Table value times the range gain: 200 * 1.4166666 is 283.3, clamped.
    instance.columnLuts[0][3] = 200;
    instance.columnLuts[1][3] = 100;
    instance.rangeGain = 1.4166666f;
    instance.preparedTables.Drop();
    EXPECT_EQ(CorrectRow(instance, {3, 3}, 5, true), (Row{255, 141}));
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
    EXPECT_EQ(CorrectRow(instance, {255, 255, 50, 255, 150}, 4), (Row{100, 60, 50, 45, 150}));
}

TEST(HoleFilling, ListedColumnsChangeWhichRawValueIsAHole) {
    FlatFieldCorrectionInstance instance = HoleInstance(3);
    for (int p = 0; p < 256; ++p) instance.columnLuts[1][p] = 2 * p;  // stored as its low 8 bits
    instance.lutExactColumns = {1};
    instance.lutDarkHoleColumns = {2};
    instance.lutHoleCandidates[2][0] = {33};
    EXPECT_EQ(CorrectRow(instance, {200, 255, 0}, 4, true), (Row{200, 254, 33}));
}

TEST(HoleFilling, RowsWithoutMappedPixelsEndAsZeroAndMissingCandidatesThrow) {
    FlatFieldCorrectionInstance instance = HoleInstance(2);
    instance.lutHoleCandidates[1][255] = {12};
    cv::Mat input(2, 2, CV_8UC1, cv::Scalar(255));
    input.at<uint8_t>(1, 0) = 10;
    cv::Mat output(2, 2, CV_8UC1, cv::Scalar(7));
    EXPECT_FALSE(Correct(instance, input, output, 4));
    EXPECT_EQ(RowValues(output, 0), (Row{0, 0}));
    EXPECT_EQ(RowValues(output, 1), (Row{10, 12}));
    instance.lutHoleCandidates.resize(1);
    EXPECT_EQ(ThrownMessage([&] { Correct(instance, input, output, 4); }), "Vector is empty");
}

}  // namespace
}  // namespace ffc
