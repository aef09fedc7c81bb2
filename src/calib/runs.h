// The three calibration runs from the column profiles of the images they
// use, in listing order. The exported run functions load the profiles of the
// instance's folder and call these; the C++ interface calls them with images
// it read or was given. Each run computes every result before it writes the
// instance, and writes it with moves that cannot throw: a run that fails or
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

// The current generation. Empty, the instance untouched, when no image lies
// below level 255 or the output gains come out infinite or undefined (images
// that do not span a range of levels); otherwise the range the fits used.
std::optional<FitRange> RunCurrentGeneration(FlatFieldCorrectionInstance& instance,
                                             std::vector<std::vector<float>> profiles,
                                             const ColumnGroups& columnGroups, uint32_t significantDigits);

// The previous generation. Empty, the instance untouched, when no image lies
// below level 255; otherwise the range the fits used.
std::optional<FitRange> RunPreviousGeneration(FlatFieldCorrectionInstance& instance,
                                              std::vector<std::vector<float>> profiles,
                                              const ColumnGroups& columnGroups, uint32_t significantDigits);

// The segmented run. Always writes its results; true when every listed column
// got two pieces at both orders.
bool RunSegmented(FlatFieldCorrectionInstance& instance, const std::vector<std::vector<float>>& profiles,
                  const ColumnGroups& columnGroups, uint32_t significantDigits);

}  // namespace ffc

#endif  // VYR_FFC_RUNS_H
