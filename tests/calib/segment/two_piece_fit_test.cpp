#include "calib/segment/two_piece_fit.h"

#include <tuple>

#include <gtest/gtest.h>

#include "fit/polynomial.h"

namespace ffc {
namespace {

ColumnPointSets Split(const std::vector<float>& x, const std::vector<float>& y, float topLevel) {
    ColumnPointSets sets;
    SplitColumnPoints(x, y, topLevel, sets);
    return sets;
}

// The window bounds belong to one piece only; a point inside goes to both.
TEST(SplitColumnPoints, WindowBoundsAreExclusiveAndSetsSorted) {
    EXPECT_EQ(Split({}, {}, 200.0f).windowLow, 125);
    EXPECT_EQ(Split({}, {}, 200.0f).windowHigh, 166);
    EXPECT_EQ(Split({}, {}, 100.0f).windowLow, 62);
    EXPECT_EQ(Split({}, {}, 100.0f).windowHigh, 83);
    const ColumnPointSets sets = Split({212, 180, 159, 20}, {4, 3, 2, 1}, 255.0f);
    EXPECT_EQ(sets.windowLow, 159);
    EXPECT_EQ(sets.windowHigh, 212);
    EXPECT_EQ(sets.lower.x, (std::vector<float>{20, 159, 180}));
    EXPECT_EQ(sets.upper.y, (std::vector<float>{3, 4}));
    EXPECT_EQ(sets.full.y, (std::vector<float>{1, 2, 3, 4}));
}

// Points y = slope x + offset + bend (x - 72)^2 for x = first, first + step, ... <= last.
void AddPoints(PointSet& points, float first, float last, float step, float slope, float offset, float bend) {
    for (float x = first; x <= last; x += step) {
        points.x.push_back(x);
        points.y.push_back((x - 72.0f) * (x - 72.0f) * bend + slope * x + offset);
    }
}

// All points inside the window give identical pieces: the first computed
// position wins, nothing is shifted. Dark points on a line of slope 0.5 and
// bright ones on a parabola of slope 0.5 at 72 join at 72 and meet there.
TEST(FitTwoPieces, JoinsWhereSlopesAgreeAndMeetsThere) {
    PolyfitWorkspace workspace;
    PointSet inside;
    AddPoints(inside, 160.0f, 210.0f, 3.0f, 2.0f, 1.0f, 0.0f);
    const TwoPieceFit same = FitTwoPieces(Split(inside.x, inside.y, 255.0f), 3, 6, workspace);
    EXPECT_TRUE(same.complete);
    EXPECT_EQ(same.breakpoint, 159 + 2);
    EXPECT_EQ(same.pieces.at(0), same.pieces.at(1));

    PointSet bent;
    AddPoints(bent, 0.0f, 62.0f, 3.0f, 0.5f, 20.0f, 0.0f);
    AddPoints(bent, 83.0f, 255.0f, 4.0f, 0.5f, 30.0f, 1.0f / 200.0f);
    const TwoPieceFit fit = FitTwoPieces(Split(bent.x, bent.y, 100.0f), 2, 7, workspace);
    ASSERT_TRUE(fit.complete);
    EXPECT_EQ(fit.breakpoint, 72);
    EXPECT_NEAR(PolyvalGrayFloat(fit.pieces[0], 72.0f), 56.0f, 1e-3f);
    EXPECT_NEAR(PolyvalGrayFloat(fit.pieces[1], 72.0f), 56.0f, 1e-2f);
}

// Each piece needs 10 points: with 9 on either side, or a window too short
// for slopes (top level 20: 12..15), the pieces are the single fit and zeros,
// without a breakpoint.
TEST(FitTwoPieces, NeedsTenPointsEachSideAndAWindowForSlopes) {
    PolyfitWorkspace workspace;
    for (auto [dark, bright, complete] : {std::tuple{10, 10, true}, {9, 10, false}, {10, 9, false}}) {
        PointSet points;
        AddPoints(points, 100.0f, 100.0f + 5.0f * (dark - 1), 5.0f, 2.0f, 1.0f, 0.0f);
        AddPoints(points, 212.0f, 212.0f + bright - 1, 1.0f, 2.0f, 1.0f, 0.0f);
        EXPECT_EQ(FitTwoPieces(Split(points.x, points.y, 255.0f), 2, 6, workspace).complete, complete) << dark;
    }
    PointSet dark;
    AddPoints(dark, 0.0f, 29.0f, 1.0f, 2.0f, 1.0f, 0.0f);
    for (int order : {2, 3}) {
        const TwoPieceFit fit = FitTwoPieces(Split(dark.x, dark.y, 20.0f), order, 6, workspace);
        EXPECT_FALSE(fit.complete);
        EXPECT_EQ(fit.breakpoint, 256);
        EXPECT_EQ(fit.pieces, (std::vector<std::vector<float>>{fit.single, std::vector<float>(order + 1, 0.0f)}));
    }
}

}  // namespace
}  // namespace ffc
