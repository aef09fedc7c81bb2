// Two-piece fitting of one column's calibration points. The points split into
// a dark set and a bright set that overlap in a window of gray levels; each set
// gets its own polynomial, and the two pieces are joined at the gray level of
// the window where their slopes agree best.
#ifndef VYR_FFC_TWO_PIECE_FIT_H
#define VYR_FFC_TWO_PIECE_FIT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fit/polynomial.h"

namespace ffc {

// Fewest points a piece needs before the column is fitted in two pieces.
constexpr size_t kMinPiecePoints = 10;

// Breakpoint value meaning "no breakpoint": above every 8-bit gray level, so
// only the first piece applies.
constexpr int32_t kNoBreakpoint = 256;

// Calibration points of one column: x the column's own values, y the reference
// levels, aligned by index.
struct PointSet {
    std::vector<float> x;
    std::vector<float> y;
};

// The overlap window of one column and its three point sets, each sorted by x.
struct ColumnPointSets {
    int32_t windowLow = 0;   // first gray level of the window
    int32_t windowHigh = 0;  // one past the last gray level of the window
    PointSet lower;          // points with x < windowHigh
    PointSet upper;          // points with x > windowLow
    PointSet full;           // every point
};

// The fits of one column at one order; every vector holds order + 1
// coefficients in ascending powers, rounded.
struct TwoPieceFit {
    std::vector<float> single;               // fit over every point
    std::vector<std::vector<float>> pieces;  // [lower piece, upper piece]
    int32_t breakpoint = kNoBreakpoint;
    bool complete = false;  // false when the pieces could not be fitted
};

// Reorders x ascending and y with it: std::sort of the indices 0..n-1 with
// x[a] < x[b]. Ties keep the order that sort leaves, which is reproducible.
// Throws std::invalid_argument, changing nothing, when the lengths differ.
void SortJointlyByFirst(std::vector<float>& x, std::vector<float>& y);

// Refills `sets` with the window of a column whose top level is `topLevel`
// and its point sets: windowLow = trunc(topLevel * 0.625), windowHigh =
// trunc(topLevel * 0.833), in double. The points are taken in their given
// order, then each set is sorted; the storage of `sets` is reused from column
// to column. x and y must have the same length (std::invalid_argument
// otherwise).
void SplitColumnPoints(const std::vector<float>& x, const std::vector<float>& y, float topLevel,
                       ColumnPointSets& sets);

// The single fit and the two pieces of one column at `order`. With fewer than
// kMinPiecePoints in either piece, or a window of fewer than 5 gray levels,
// the pieces are [single, zeros], the breakpoint kNoBreakpoint and the fit
// incomplete. The fits go through `workspace`, shared by the columns of a run.
TwoPieceFit FitTwoPieces(const ColumnPointSets& sets, int order, uint32_t significantDigits,
                         PolyfitWorkspace& workspace);

}  // namespace ffc

#endif  // VYR_FFC_TWO_PIECE_FIT_H
