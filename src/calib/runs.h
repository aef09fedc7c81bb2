// The three calibration runs from the column profiles of the images they
// use, in listing order. The exported run functions load the profiles of the
// instance's folder and call these; the C++ interface calls them with images
// it read or was given. Each run computes every result before it writes the
// instance, and writes it with moves that cannot throw: a run that stops or
// throws leaves the instance exactly as it was.
//
// All of them expect inputs that RunInputsAreValid accepts and at least the
// minimum number of profiles.
#ifndef VYR_FFC_RUNS_H
#define VYR_FFC_RUNS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "calib/lowhigh/fit_range.h"
#include "instance/instance.h"

namespace ffc {

// Fewest usable images each kind of run works with.
constexpr size_t kLowHighMinimumImages = 4;
constexpr size_t kSegmentedMinimumImages = 10;

// How a run ended: the first two wrote their results, the others stopped on
// the rule they name and wrote nothing.
enum class RunStatus {
    kCalibrated,
    kSomeColumnsWithoutTwoPieces,  // segmented: a listed column lacks two pieces at an order
    kAllSaturated,                 // low/high: no image lies below level 255
    kOutputGainNotFinite,          // current generation: an output gain is infinite or undefined
};

// What a run reports besides its status, for callers that explain it.
struct RunOutcome {
    RunStatus status = RunStatus::kCalibrated;
    // The reference levels (mean over the reference columns) of the images
    // the run fitted from, as it measured them: one per kept level for the
    // low/high runs, in increasing level, empty when all are saturated; one
    // per image, in listing order, for the segmented run.
    std::vector<float> levels;
    // The range the low/high fits used, once the run got that far.
    std::optional<FitRange> range;
};

// The current generation. Stops with kAllSaturated or kOutputGainNotFinite
// (images that do not span a range of levels).
RunOutcome RunCurrentGeneration(FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>> profiles,
                                const ColumnGroups& columnGroups, uint32_t significantDigits);

// The previous generation. Stops only with kAllSaturated.
RunOutcome RunPreviousGeneration(FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>> profiles,
                                 const ColumnGroups& columnGroups, uint32_t significantDigits);

// The segmented run. Always writes its results; kSomeColumnsWithoutTwoPieces
// when a listed column did not get two pieces at both orders.
RunOutcome RunSegmented(FlatFieldCorrectionInstance& instance, const std::vector<std::vector<float>>& profiles,
                        const ColumnGroups& columnGroups, uint32_t significantDigits);

}  // namespace ffc

#endif  // VYR_FFC_RUNS_H
