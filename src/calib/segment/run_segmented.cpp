// The segmented calibration run: every listed column is fitted with a single
// polynomial and with two pieces joined at a breakpoint, at orders 2 and 3,
// from every usable calibration image.
#include <utility>
#include <vector>

#include "calib/column_marks.h"
#include "calib/runs.h"
#include "calib/segment/group_steps.h"
#include "calib/segment/two_piece_fit.h"
#include "instance/instance.h"

namespace ffc {

namespace {

constexpr int kQuadOrder = 2;
constexpr int kCubicOrder = 3;

std::vector<float> ReferenceLevels(const std::vector<std::vector<float>>& profiles,
                                   const std::vector<int32_t>& referenceColumns) {
    std::vector<float> levels;
    levels.reserve(profiles.size());
    for (const std::vector<float>& profile : profiles) {
        levels.push_back(MeanOverReferenceColumns(profile, referenceColumns));
    }
    return levels;
}

// The six fields the segmented run writes, one entry per column, added in
// column order: each column's vectors are allocated once, by its fits or as
// zeros.
struct SegmentedResults {
    std::vector<std::vector<float>> quadCoeffs;
    std::vector<std::vector<float>> cubicCoeffs;
    std::vector<std::vector<std::vector<float>>> segQuadCoeffs;
    std::vector<int32_t> segQuadBreaks;
    std::vector<std::vector<std::vector<float>>> segCubicCoeffs;
    std::vector<int32_t> segCubicBreaks;

    explicit SegmentedResults(int32_t width) {
        quadCoeffs.reserve(width);
        cubicCoeffs.reserve(width);
        segQuadCoeffs.reserve(width);
        segQuadBreaks.reserve(width);
        segCubicCoeffs.reserve(width);
        segCubicBreaks.reserve(width);
    }

    // Zero coefficients and no breakpoint: a column that is not fitted.
    void AddUnfitted() {
        quadCoeffs.emplace_back(kQuadOrder + 1, 0.0f);
        cubicCoeffs.emplace_back(kCubicOrder + 1, 0.0f);
        segQuadCoeffs.emplace_back(2, quadCoeffs.back());
        segQuadBreaks.push_back(kNoBreakpoint);
        segCubicCoeffs.emplace_back(2, cubicCoeffs.back());
        segCubicBreaks.push_back(kNoBreakpoint);
    }

    void AddFitted(TwoPieceFit&& quad, TwoPieceFit&& cubic) {
        quadCoeffs.push_back(std::move(quad.single));
        segQuadCoeffs.push_back(std::move(quad.pieces));
        segQuadBreaks.push_back(quad.breakpoint);
        cubicCoeffs.push_back(std::move(cubic.single));
        segCubicCoeffs.push_back(std::move(cubic.pieces));
        segCubicBreaks.push_back(cubic.breakpoint);
    }

    void CommitTo(FlatFieldCorrectionInstance& instance) noexcept {
        instance.quadCoeffs.swap(quadCoeffs);
        instance.cubicCoeffs.swap(cubicCoeffs);
        instance.segQuadCoeffs.swap(segQuadCoeffs);
        instance.segQuadBreaks.swap(segQuadBreaks);
        instance.segCubicCoeffs.swap(segCubicCoeffs);
        instance.segCubicBreaks.swap(segCubicBreaks);
    }
};

// Fits every column listed in referenceColumns; the others keep zero
// coefficients and no breakpoint. The list is walked with a cursor that moves
// only on a match, so it is taken in ascending order: after an entry not above
// its predecessor, no later column matches. `complete` tells whether every
// listed column got two pieces at both orders.
SegmentedResults FitColumns(const FlatFieldCorrectionInstance& instance,
                            const std::vector<std::vector<float>>& profiles, const std::vector<float>& imageLevels,
                            const std::vector<float>& topLevels, uint32_t significantDigits, bool& complete) {
    SegmentedResults results(instance.imageWidth);
    const std::vector<int32_t>& listed = instance.referenceColumns;
    size_t cursor = 0;
    complete = true;
    std::vector<float> columnValues(profiles.size());
    ColumnPointSets sets;
    PolyfitWorkspace workspace;
    for (int32_t c = 0; c < instance.imageWidth; ++c) {
        if (cursor >= listed.size() || c != listed[cursor]) {
            results.AddUnfitted();
            continue;
        }
        for (size_t i = 0; i < profiles.size(); ++i) columnValues[i] = profiles[i][c];
        SplitColumnPoints(columnValues, imageLevels, topLevels[c], sets);
        TwoPieceFit quad = FitTwoPieces(sets, kQuadOrder, significantDigits, workspace);
        TwoPieceFit cubic = FitTwoPieces(sets, kCubicOrder, significantDigits, workspace);
        complete = complete && quad.complete && cubic.complete;
        results.AddFitted(std::move(quad), std::move(cubic));
        ++cursor;
    }
    return results;
}

}  // namespace

RunOutcome RunSegmented(FlatFieldCorrectionInstance& instance, const std::vector<std::vector<float>>& profiles,
                        const ColumnGroups& columnGroups, uint32_t significantDigits) {
    RunOutcome outcome;
    outcome.levels = ReferenceLevels(profiles, instance.referenceColumns);
    // Each column's level in the brightest image where its group steps.
    const std::vector<float> topLevels =
        FindMarkedTopLevels(profiles, outcome.levels, columnGroups, instance.imageWidth, GroupStepMark);
    bool complete = true;
    SegmentedResults results =
        FitColumns(instance, profiles, outcome.levels, topLevels, significantDigits, complete);
    results.CommitTo(instance);
    if (!complete) outcome.status = RunStatus::kSomeColumnsWithoutTwoPieces;
    return outcome;
}

}  // namespace ffc
