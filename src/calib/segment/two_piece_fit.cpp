#include "calib/segment/two_piece_fit.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

#include "fit/polynomial.h"
#include "fit/rounding.h"

namespace ffc {

namespace {

// Slopes are compared over +-2 gray levels, so the first and last two window
// positions get no slope.
constexpr int kSlopeReach = 2;

// The value a window position without a computed slope holds; every computed
// slope difference is below it (clamped values differ by at most 255, a
// quarter of that is 63.75 per piece).
constexpr float kNoSlope = 255.0f;

void SplitInto(const std::vector<float>& x, const std::vector<float>& y, float windowLow, float windowHigh,
               ColumnPointSets& sets) {
    sets.lower.x.clear();
    sets.lower.y.clear();
    sets.upper.x.clear();
    sets.upper.y.clear();
    sets.full.x.assign(x.begin(), x.end());
    sets.full.y.assign(y.begin(), y.end());
    for (size_t i = 0; i < x.size(); ++i) {
        if (x[i] < windowHigh) {
            sets.lower.x.push_back(x[i]);
            sets.lower.y.push_back(y[i]);
        }
        if (x[i] > windowLow) {
            sets.upper.x.push_back(x[i]);
            sets.upper.y.push_back(y[i]);
        }
    }
}

// Index m of the smallest slope difference between the pieces over the window
// (earliest of equal minima) and the gap lower - upper at that position.
struct JoinPoint {
    int index = 0;
    float gap = kNoSlope;
};

JoinPoint FindJoinPoint(const std::vector<float>& lower, const std::vector<float>& upper, int32_t windowLow,
                        int32_t windowHigh) {
    const int windowLength = windowHigh - windowLow;
    std::vector<float> lowerValues(windowLength);
    std::vector<float> upperValues(windowLength);
    PolyvalGrayFloatAtGrays(lower, windowLow, windowLength, lowerValues.data());
    PolyvalGrayFloatAtGrays(upper, windowLow, windowLength, upperValues.data());
    // Positions without a slope hold kNoSlope and never win against a computed
    // one, so only the computed positions need scanning.
    JoinPoint join;
    float smallest = kNoSlope;
    for (int i = kSlopeReach; i + kSlopeReach < windowLength; ++i) {
        const float lowerSlope = (lowerValues[i + kSlopeReach] - lowerValues[i - kSlopeReach]) * 0.25f;
        const float upperSlope = (upperValues[i + kSlopeReach] - upperValues[i - kSlopeReach]) * 0.25f;
        const float difference = std::fabs(lowerSlope - upperSlope);
        if (difference < smallest) {
            smallest = difference;
            join.index = i;
            join.gap = lowerValues[i] - upperValues[i];
        }
    }
    return join;
}

}  // namespace

void SortJointlyByFirst(std::vector<float>& x, std::vector<float>& y) {
    if (x.size() != y.size()) throw std::invalid_argument("Vectors must be of the same length.");
    // Strictly increasing values have one sorted order, the one they are in.
    // Points mostly come in that order, brighter image after darker.
    if (std::adjacent_find(x.begin(), x.end(), [](float a, float b) { return !(a < b); }) == x.end()) return;
    std::vector<int> order(x.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&x](int a, int b) { return x[a] < x[b]; });
    std::vector<float> sortedX(x.size());
    std::vector<float> sortedY(y.size());
    for (size_t i = 0; i < order.size(); ++i) {
        sortedX[i] = x[order[i]];
        sortedY[i] = y[order[i]];
    }
    x.swap(sortedX);
    y.swap(sortedY);
}

void SplitColumnPoints(const std::vector<float>& x, const std::vector<float>& y, float topLevel,
                       ColumnPointSets& sets) {
    if (x.size() != y.size()) throw std::invalid_argument("Vectors must be of the same length.");
    sets.windowLow = static_cast<int32_t>(static_cast<double>(topLevel) * 0.625);
    sets.windowHigh = static_cast<int32_t>(static_cast<double>(topLevel) * 0.833);
    SplitInto(x, y, static_cast<float>(sets.windowLow), static_cast<float>(sets.windowHigh), sets);
    SortJointlyByFirst(sets.lower.x, sets.lower.y);
    SortJointlyByFirst(sets.upper.x, sets.upper.y);
    SortJointlyByFirst(sets.full.x, sets.full.y);
}

TwoPieceFit FitTwoPieces(const ColumnPointSets& sets, int order, uint32_t significantDigits,
                         PolyfitWorkspace& workspace) {
    TwoPieceFit fit;
    fit.single = workspace.Fit(sets.full.x, sets.full.y, order);
    RoundToSignificantDigits(fit.single, significantDigits);

    // A window shorter than 2 * kSlopeReach + 1 levels has no slope to compare.
    const bool windowTooShort = sets.windowHigh - sets.windowLow <= 2 * kSlopeReach;
    if (sets.lower.x.size() < kMinPiecePoints || sets.upper.x.size() < kMinPiecePoints || windowTooShort) {
        fit.pieces = {fit.single, std::vector<float>(fit.single.size(), 0.0f)};
        fit.breakpoint = kNoBreakpoint;
        fit.complete = false;
        return fit;
    }

    std::vector<float> lower = workspace.Fit(sets.lower.x, sets.lower.y, order);
    std::vector<float> upper = workspace.Fit(sets.upper.x, sets.upper.y, order);
    const JoinPoint join = FindJoinPoint(lower, upper, sets.windowLow, sets.windowHigh);
    fit.breakpoint = sets.windowLow + join.index;
    // Lift the upper piece so that both meet at the breakpoint; rounding
    // comes after, on the joined coefficients.
    upper[0] += join.gap;
    RoundToSignificantDigits(lower, significantDigits);
    RoundToSignificantDigits(upper, significantDigits);
    fit.pieces.reserve(2);
    fit.pieces.push_back(std::move(lower));
    fit.pieces.push_back(std::move(upper));
    fit.complete = true;
    return fit;
}

}  // namespace ffc
