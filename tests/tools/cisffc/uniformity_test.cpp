// The report's own rules, from hand-worked figures: clipping, the best mode,
// the acceptance limits and how they are typed.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "report.h"
#include "tool_error.h"
#include "uniformity.h"

namespace {

using cisffc::MeasureUniformity;

TEST(Uniformity, AnImageIsClippedWhenMoreThanTwoPercentOfItsColumnsReadFullScale) {
    std::vector<float> means(100, 200.0f);
    std::vector<int32_t> columns(100);
    for (int32_t c = 0; c < 100; ++c) columns[c] = c;
    means[0] = means[1] = 255.0f;
    EXPECT_FALSE(MeasureUniformity(means, columns).clipped);
    means[2] = 255.0f;
    EXPECT_TRUE(MeasureUniformity(means, columns).clipped);
}

// One image inside the fitting range, corrected to the given non-uniformity
// and PRNU.
cisffc::CorrectionOutcome Outcome(double nonUniformity, vyrffc::Figure prnu, int failures = 0) {
    cisffc::CorrectionOutcome outcome;
    outcome.inRange = {true};
    outcome.raw = outcome.corrected = {cisffc::Uniformity{}};
    outcome.rawFitted = {cisffc::Uniformity{100.0, 5.0, 0.05, 20.0}};
    outcome.correctedFitted = {cisffc::Uniformity{100.0, 100.0 * nonUniformity, nonUniformity, 2.0}};
    outcome.correctedFigures.prnu = prnu;
    outcome.failures = failures;
    return outcome;
}

TEST(ModeComparison, TheBestIsTheLowestAmongModesThatCorrectedEveryImage) {
    const vyrffc::Figure prnu{0.002};
    EXPECT_EQ(cisffc::BestOutcome({Outcome(0.006, prnu), Outcome(0.001, prnu, 1), Outcome(0.004, prnu)}), 2);
    EXPECT_EQ(cisffc::BestOutcome({Outcome(0.001, prnu, 2)}), -1);
}

TEST(Acceptance, EachLimitPassesOrFailsWithItsFigure) {
    cisffc::AcceptanceLimits limits;
    EXPECT_TRUE(cisffc::CheckAcceptance(Outcome(0.006, {0.002}), limits).empty());
    limits.maxPrnu = 0.01;
    limits.maxNonUniformity = 0.005;
    // NU 0.6% misses 0.5%; PRNU 0.2% meets 1%.
    std::vector<cisffc::AcceptanceCheck> checks = cisffc::CheckAcceptance(Outcome(0.006, {0.002}), limits);
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_TRUE(checks[0].passed) << checks[0].text;
    EXPECT_FALSE(checks[1].passed);
    EXPECT_EQ(checks[1].text, "NU 0.600% > 0.5%");
    // A bound below the limit meets it; a figure that cannot be measured
    // misses it, saying why.
    EXPECT_TRUE(cisffc::CheckAcceptance(Outcome(0.001, {0.009, true}), limits)[0].passed);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const cisffc::AcceptanceCheck unmeasured =
        cisffc::CheckAcceptance(Outcome(0.001, {nan, false, "the flat image is clipped"}), limits)[0];
    EXPECT_FALSE(unmeasured.passed);
    EXPECT_NE(unmeasured.text.find("the flat image is clipped"), std::string::npos) << unmeasured.text;
}

TEST(Acceptance, LimitsAreTypedInPercentWithOrWithoutTheSign) {
    EXPECT_DOUBLE_EQ(cisffc::ParsePercentLimit("1%", "--max-prnu"), 0.01);
    EXPECT_DOUBLE_EQ(cisffc::ParsePercentLimit("0.5", "--max-nu"), 0.005);
    EXPECT_DOUBLE_EQ(cisffc::ParsePercentLimit("2 %", "--max-nu"), 0.02);
    for (const char* garbage : {"", "%", "abc", "1%%", "-1", "0", "1e-2", "nan", "1,5"}) {
        EXPECT_THROW(cisffc::ParsePercentLimit(garbage, "--max-nu"), cisffc::ToolError) << garbage;
    }
}

}  // namespace
