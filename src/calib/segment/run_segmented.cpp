// The segmented calibration run and its accessor: every listed column is fitted
// with a single polynomial and with two pieces joined at a breakpoint, at
// orders 2 and 3, from every usable calibration image.
#include <optional>
#include <utility>
#include <vector>

#include "VyrCISFlatfieldCorrection.h"
#include "calib/column_marks.h"
#include "calib/run_start.h"
#include "calib/segment/group_steps.h"
#include "calib/segment/two_piece_fit.h"
#include "instance/instance.h"

namespace ffc {

namespace {

// Fewest usable images the segmented run works with.
constexpr size_t kMinSegmentImages = 10;

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

void StoreFit(TwoPieceFit&& fit, std::vector<float>& single, std::vector<std::vector<float>>& pieces,
              int32_t& breakpoint) {
    single = std::move(fit.single);
    pieces = std::move(fit.pieces);
    breakpoint = fit.breakpoint;
}

void StoreUnfitted(FlatFieldCorrectionInstance& instance, int32_t column) {
    instance.quadCoeffs[column].assign(kQuadOrder + 1, 0.0f);
    instance.cubicCoeffs[column].assign(kCubicOrder + 1, 0.0f);
    instance.segQuadCoeffs[column].assign(2, std::vector<float>(kQuadOrder + 1, 0.0f));
    instance.segQuadBreaks[column] = kNoBreakpoint;
    instance.segCubicCoeffs[column].assign(2, std::vector<float>(kCubicOrder + 1, 0.0f));
    instance.segCubicBreaks[column] = kNoBreakpoint;
}

// Fits every column listed in referenceColumns and zeroes the others; true when
// every listed column got two pieces at both orders. The list is walked with a
// cursor that moves only on a match, so it is taken in ascending order: after
// an entry not above its predecessor, no later column matches.
bool FitColumns(FlatFieldCorrectionInstance& instance, const std::vector<std::vector<float>>& profiles,
                const std::vector<float>& imageLevels, const std::vector<float>& topLevels,
                uint32_t significantDigits) {
    const int32_t imageWidth = instance.imageWidth;
    instance.quadCoeffs.resize(imageWidth);
    instance.cubicCoeffs.resize(imageWidth);
    instance.segQuadCoeffs.resize(imageWidth);
    instance.segQuadBreaks.resize(imageWidth);
    instance.segCubicCoeffs.resize(imageWidth);
    instance.segCubicBreaks.resize(imageWidth);

    const std::vector<int32_t>& listed = instance.referenceColumns;
    size_t cursor = 0;
    bool complete = true;
    std::vector<float> columnValues(profiles.size());
    ColumnPointSets sets;
    for (int32_t c = 0; c < imageWidth; ++c) {
        if (cursor >= listed.size() || c != listed[cursor]) {
            StoreUnfitted(instance, c);
            continue;
        }
        for (size_t i = 0; i < profiles.size(); ++i) columnValues[i] = profiles[i][c];
        SplitColumnPoints(columnValues, imageLevels, topLevels[c], sets);
        TwoPieceFit quad = FitTwoPieces(sets, kQuadOrder, significantDigits);
        TwoPieceFit cubic = FitTwoPieces(sets, kCubicOrder, significantDigits);
        complete = complete && quad.complete && cubic.complete;
        StoreFit(std::move(quad), instance.quadCoeffs[c], instance.segQuadCoeffs[c], instance.segQuadBreaks[c]);
        StoreFit(std::move(cubic), instance.cubicCoeffs[c], instance.segCubicCoeffs[c], instance.segCubicBreaks[c]);
        ++cursor;
    }
    return complete;
}

}  // namespace

}  // namespace ffc

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_autosegment(FlatFieldCorrectionInstance* instance,
                                                        uint32_t significantDigits,
                                                        std::vector<std::vector<int32_t>> columnGroups) {
    const std::optional<std::vector<std::vector<float>>> profiles =
        ffc::LoadRunProfiles(instance, columnGroups, ffc::kMinSegmentImages);
    if (!profiles) return false;
    const std::vector<float> imageLevels = ffc::ReferenceLevels(*profiles, instance->referenceColumns);
    // Each column's level in the brightest image where its group steps.
    const std::vector<float> topLevels = ffc::FindMarkedTopLevels(*profiles, imageLevels, columnGroups,
                                                                  instance->imageWidth, ffc::GroupStepMark);
    return ffc::FitColumns(*instance, *profiles, imageLevels, topLevels, significantDigits);
}

VYR_FFC_API void GetFlatFieldCorrectionPolyval_Seg_2(FlatFieldCorrectionInstance* instance,
                                                     std::vector<std::vector<std::vector<float>>>* pieces,
                                                     std::vector<int32_t>* breakpoints) {
    if (instance == nullptr) return;
    if (pieces != nullptr) *pieces = instance->segQuadCoeffs;
    if (breakpoints != nullptr) *breakpoints = instance->segQuadBreaks;
}

}  // extern "C"
