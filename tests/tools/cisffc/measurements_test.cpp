// The tool's own pieces, from values worked out by hand: column ranges,
// non-uniformity figures and the two-piece evaluation.
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "column_ranges.h"
#include "commands.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {
namespace {

// The exit status and message a step fails with; success when it does not.
std::pair<ExitStatus, std::string> Failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const ToolError& error) {
        return {error.status(), error.what()};
    }
    return {kExitSuccess, ""};
}

TEST(ColumnRanges, RejectsMalformedListsAsUsageErrors) {
    for (const char* text : {"", "5-", "-3", "a", "3-1", "1,,2", "1,", "99999999999"}) {
        const auto [status, message] = Failure([&] { ParseColumnRanges(text, "--groups"); });
        EXPECT_EQ(status, kExitUsage) << text;
        EXPECT_EQ(message.rfind("--groups", 0), 0u) << message;
    }
}

TEST(ColumnRanges, ConsecutiveGroupsKeepARemainderOfHalfAGroup) {
    const auto dropped = ConsecutiveGroups(150, 64);  // remainder 22 < 32
    ASSERT_EQ(dropped.size(), 2u);
    EXPECT_EQ(dropped[1].front(), 64);
    EXPECT_EQ(dropped[1].back(), 127);
    const auto kept = ConsecutiveGroups(160, 64);  // remainder 32
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[2].size(), 32u);
    EXPECT_EQ(kept[2].back(), 159);
}

TEST(Settings, DefaultReferenceColumnsAndModes) {
    EXPECT_EQ(DefaultReferenceColumns(RunKind::Current, 10), (std::vector<int32_t>{4, 5}));
    EXPECT_EQ(DefaultReferenceColumns(RunKind::Previous, 1), (std::vector<int32_t>{0}));
    EXPECT_EQ(DefaultReferenceColumns(RunKind::Segmented, 3), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(ParseMode("default", RunKind::Current), kDefaultMode);
    EXPECT_EQ(ParseMode("", RunKind::Previous), kDefaultMode);
    EXPECT_EQ(ParseMode("", RunKind::Segmented), 1);
    EXPECT_EQ(ParseMode("4", RunKind::Current), 4);
    EXPECT_EQ(Failure([] { ParseMode("6", RunKind::Segmented); }).first, kExitUsage);
    EXPECT_EQ(Failure([] { ParseMode("1x", RunKind::Current); }).first, kExitUsage);
    EXPECT_EQ(ModeName(2), "default");
}

TEST(Uniformity, StandardDeviationOverMeanAndPeakToPeak) {
    const std::vector<float> means = {90, 110, 100, 100};
    const Uniformity all = MeasureUniformity(means, {0, 1, 2, 3});
    EXPECT_DOUBLE_EQ(all.mean, 100.0);
    EXPECT_NEAR(all.nonUniformity, std::sqrt(50.0) / 100.0, 1e-12);
    EXPECT_DOUBLE_EQ(all.peakToPeak, 20.0);
    const Uniformity flat = MeasureUniformity(means, {2, 3});
    EXPECT_DOUBLE_EQ(flat.nonUniformity, 0.0);
    EXPECT_DOUBLE_EQ(flat.peakToPeak, 0.0);
    EXPECT_TRUE(std::isnan(MeasureUniformity({0, 0}, {0, 1}).nonUniformity));
}

TEST(Uniformity, FittingRangeToleratesTwoPercentOfColumnsOutside) {
    std::vector<int32_t> columns(100);
    std::iota(columns.begin(), columns.end(), 0);
    std::vector<float> means(100, 100.0f);
    means[0] = means[1] = 20.0f;
    EXPECT_TRUE(InFittingRange(means, columns));
    means[2] = 180.0f;  // the bounds themselves lie outside
    EXPECT_FALSE(InFittingRange(means, columns));
    EXPECT_EQ(ColumnsInFittingRange({35.0f, 35.5f, 179.5f, 180.0f}, {0, 1, 2, 3}), (std::vector<int32_t>{1, 2}));
}

TEST(Uniformity, SummaryAveragesInsideTheRangeAndKeepsAFailedCorrection) {
    CorrectionOutcome outcome;
    outcome.inRange = {true, false, true};
    outcome.rawFitted = {{100, 0.06, 10}, {20, 0.5, 10}, {150, 0.04, 10}};
    outcome.correctedFitted = {{100, 0.006, 1}, {20, 0.9, 9}, {150, 0.002, 3}};
    outcome.corrected = outcome.correctedFitted;
    OutcomeSummary summary = Summarize(outcome);
    EXPECT_EQ(summary.images, 2);
    EXPECT_DOUBLE_EQ(summary.rawNonUniformity, 0.05);
    EXPECT_DOUBLE_EQ(summary.correctedNonUniformity, 0.004);
    EXPECT_DOUBLE_EQ(summary.worstCorrected, 0.006);
    EXPECT_DOUBLE_EQ(summary.correctedPeakToPeak, 2.0);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    outcome.correctedFitted[0] = {nan, nan, nan};
    summary = Summarize(outcome);
    EXPECT_TRUE(std::isnan(summary.worstCorrected));
}

TEST(Uniformity, TwoPieceCurvesSwitchAtTheBreakpointAndClamp) {
    Calibration calibration;
    calibration.settings.run = RunKind::Segmented;
    calibration.settings.imageWidth = 2;
    calibration.settings.referenceColumns = {0, 1};
    // Column 0: 2x below gray 50, x + 10 from it on; column 1: x - 20 throughout.
    calibration.segmentPieces = {{{0, 2, 0}, {10, 1, 0}}, {{-20, 1, 0}, {0, 0, 0}}};
    calibration.segmentBreaks = {50, 256};
    FlatImage flat;
    flat.raw = (cv::Mat_<uint8_t>(2, 2) << 40, 10, 60, 250);
    flat.columnMeans = {50.0f, 130.0f};
    const CorrectionOutcome outcome = EvaluateTwoPieces(calibration, {flat});
    ASSERT_EQ(outcome.correctedMeans.size(), 1u);
    EXPECT_FLOAT_EQ(outcome.correctedMeans[0][0], (80.0f + 70.0f) / 2);  // 2*40, 60+10
    EXPECT_FLOAT_EQ(outcome.correctedMeans[0][1], (0.0f + 230.0f) / 2);  // 10-20 clamps to 0
}

}  // namespace
}  // namespace cisffc
