// Scaling of the current-generation fits to the output range: one offset and
// gain per polynomial family, chosen so that three quarters of the columns
// reach 0 at the low bound and 255 at the high bound, folded into the stored
// coefficients.
#ifndef VYR_FFC_LOWHIGH_OUTPUT_SCALING_H
#define VYR_FFC_LOWHIGH_OUTPUT_SCALING_H

#include <vector>

#include "calib/lowhigh/fit_range.h"
#include "instance/instance.h"

namespace ffc {

// Offset and gain of one polynomial family.
struct OutputScale {
    float offset = 0.0f;
    float gain = 0.0f;
};

// From the clamped values of every column's polynomial at the low and high
// bound: offset = minus the quarter-from-top value at the low bound, gain =
// 255 / (quarter-from-bottom value at the high bound - that low value).
OutputScale ChooseOutputScale(const std::vector<float>& valuesAtLowBound,
                              const std::vector<float>& valuesAtHighBound);

// Folds the scale into the coefficients: adds the offset to the constant term,
// then multiplies every coefficient by the gain.
void ApplyOutputScale(std::vector<std::vector<float>>& coefficients, const OutputScale& scale);

// The scales of both families, chosen from the unscaled fits.
struct OutputScales {
    OutputScale quad;
    OutputScale cubic;
    // Equal references at both bounds (images that do not span a range of
    // levels) make a gain infinite or undefined.
    bool Finite() const;
};

// Scales both coefficient tables in place and returns the scales folded in.
OutputScales ScaleFitsToOutputRange(std::vector<std::vector<float>>& quadCoeffs,
                                    std::vector<std::vector<float>>& cubicCoeffs, const FitRange& range);

// Records the folded-in gains as `realQuadGain` and `realCubicGain` and leaves
// the gains at 1 and the offsets at 0.
void CommitOutputScales(const OutputScales& scales, FlatFieldCorrectionInstance& instance) noexcept;

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_OUTPUT_SCALING_H
