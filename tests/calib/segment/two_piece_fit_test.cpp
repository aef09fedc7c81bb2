#include "calib/segment/two_piece_fit.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include "fit/polynomial.h"

namespace ffc {
namespace {

// Points (x, 2x + 1) for x = first, first + step, ... below end.
PointSet Line(float first, float end, float step) {
    PointSet points;
    for (float x = first; x < end; x += step) {
        points.x.push_back(x);
        points.y.push_back(2.0f * x + 1.0f);
    }
    return points;
}

TEST(SplitColumnPoints, WindowFollowsTopLevel) {
    const std::vector<std::vector<float>> cases = {{255.0f, 159, 212}, {200.0f, 125, 166}, {100.0f, 62, 83}};
    for (const std::vector<float>& c : cases) {
        const ColumnPointSets sets = SplitColumnPoints({}, {}, c[0]);
        EXPECT_EQ(sets.windowLow, static_cast<int32_t>(c[1])) << c[0];
        EXPECT_EQ(sets.windowHigh, static_cast<int32_t>(c[2])) << c[0];
    }
}

// The window bounds themselves belong to one piece only; a point inside the
// window goes to both with its own y; every set comes out sorted by x.
TEST(SplitColumnPoints, BoundsAreExclusiveAndSetsSorted) {
    const ColumnPointSets sets = SplitColumnPoints({212.0f, 180.0f, 159.0f, 20.0f}, {4, 3, 2, 1}, 255.0f);
    EXPECT_EQ(sets.lower.x, (std::vector<float>{20.0f, 159.0f, 180.0f}));
    EXPECT_EQ(sets.lower.y, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(sets.upper.x, (std::vector<float>{180.0f, 212.0f}));
    EXPECT_EQ(sets.upper.y, (std::vector<float>{3, 4}));
    EXPECT_EQ(sets.full.y, (std::vector<float>{1, 2, 3, 4}));
}

// The tabled evaluation must give the same bits as the plain one, inside and
// outside the table and for any number of coefficients.
TEST(PolyvalGrayFloatAtGray, MatchesPolyvalGrayFloatBitForBit) {
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> coefficient(-3.0f, 3.0f);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<float> coefficients(1 + trial % 5);
        for (size_t j = 0; j < coefficients.size(); ++j) {
            coefficients[j] = coefficient(generator) * std::pow(10.0f, 2.0f - 2.0f * static_cast<float>(j));
        }
        for (int gray = -3; gray < 300; ++gray) {
            ASSERT_EQ(PolyvalGrayFloatAtGray(coefficients, gray), PolyvalGrayFloat(coefficients, static_cast<float>(gray)))
                << "trial " << trial << " gray " << gray;
        }
    }
}

TEST(SortJointlyByFirst, RejectsUnequalLengthsUnchanged) {
    std::vector<float> x = {3, 1, 2};
    std::vector<float> y = {30, 10, 20, 40};
    try {
        SortJointlyByFirst(x, y);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Vectors must be of the same length.");
    }
    EXPECT_EQ(x, (std::vector<float>{3, 1, 2}));
    EXPECT_EQ(y, (std::vector<float>{30, 10, 20, 40}));
}

// With every point inside the window both pieces are fitted to the same set:
// the slopes agree everywhere, so the first computed position wins and the
// upper piece is not shifted.
TEST(FitTwoPieces, IdenticalPiecesJoinAtFirstComputedPosition) {
    const PointSet points = Line(160.0f, 211.0f, 3.0f);
    const ColumnPointSets sets = SplitColumnPoints(points.x, points.y, 255.0f);
    for (int order : {2, 3}) {
        const TwoPieceFit fit = FitTwoPieces(sets, order, 6);
        EXPECT_TRUE(fit.complete);
        EXPECT_EQ(fit.breakpoint, 159 + 2);
        ASSERT_EQ(fit.pieces.size(), 2u);
        EXPECT_EQ(fit.pieces[0], fit.pieces[1]);
        EXPECT_EQ(fit.pieces[0].size(), static_cast<size_t>(order + 1));
    }
}

// Lower points on a line of slope 0.5, upper points on a parabola whose slope
// is 0.5 at gray 72 (window 62..82): the pieces join at 72 and meet there
// after the shift.
TEST(FitTwoPieces, JoinsWhereSlopesAgreeAndMeetsThere) {
    PointSet points;
    for (float x = 0.0f; x <= 62.0f; x += 3.0f) {
        points.x.push_back(x);
        points.y.push_back(0.5f * x + 20.0f);
    }
    for (float x = 83.0f; x <= 255.0f; x += 4.0f) {
        points.x.push_back(x);
        points.y.push_back((x - 72.0f) * (x - 72.0f) / 200.0f + 0.5f * x + 30.0f);
    }
    const TwoPieceFit fit = FitTwoPieces(SplitColumnPoints(points.x, points.y, 100.0f), 2, 7);
    ASSERT_TRUE(fit.complete);
    EXPECT_EQ(fit.breakpoint, 72);
    EXPECT_NEAR(PolyvalGrayFloat(fit.pieces[0], 72.0f), 56.0f, 1e-3f);
    EXPECT_NEAR(PolyvalGrayFloat(fit.pieces[1], 72.0f), 56.0f, 1e-2f);
}

// Too few points on one side, or a window too short for slopes: the single fit
// stands in as the first piece, zeros as the second, no breakpoint.
TEST(FitTwoPieces, IncompleteWithoutEnoughPointsOrWindow) {
    PointSet nineUpper = Line(100.0f, 160.0f, 5.0f);
    const PointSet bright = Line(212.0f, 221.0f, 1.0f);
    nineUpper.x.insert(nineUpper.x.end(), bright.x.begin(), bright.x.end());
    nineUpper.y.insert(nineUpper.y.end(), bright.y.begin(), bright.y.end());
    const PointSet dark = Line(0.0f, 30.0f, 1.0f);
    const ColumnPointSets cases[] = {SplitColumnPoints(nineUpper.x, nineUpper.y, 255.0f),
                                     SplitColumnPoints(dark.x, dark.y, 20.0f)};  // window 12..15
    for (const ColumnPointSets& sets : cases) {
        for (int order : {2, 3}) {
            const TwoPieceFit fit = FitTwoPieces(sets, order, 6);
            EXPECT_FALSE(fit.complete);
            EXPECT_EQ(fit.breakpoint, 256);
            ASSERT_EQ(fit.pieces.size(), 2u);
            EXPECT_EQ(fit.pieces[0], fit.single);
            EXPECT_EQ(fit.pieces[1], std::vector<float>(order + 1, 0.0f));
        }
    }
}

}  // namespace
}  // namespace ffc
