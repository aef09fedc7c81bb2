#include "calib/lowhigh/output_scaling.h"

#include <cmath>

#include "fit/order_statistics.h"
#include "fit/polynomial.h"

namespace ffc {

namespace {

OutputScale ScaleOfFamily(const std::vector<std::vector<float>>& coefficients, const FitRange& range) {
    return ChooseOutputScale(PolyvalGrayFloatOfEach(coefficients, range.lowBound),
                             PolyvalGrayFloatOfEach(coefficients, range.highBound));
}

}  // namespace

OutputScale ChooseOutputScale(const std::vector<float>& valuesAtLowBound,
                              const std::vector<float>& valuesAtHighBound) {
    const int k = static_cast<int>(static_cast<double>(valuesAtLowBound.size()) * 0.25);
    const float lowReference = KthLargest(valuesAtLowBound, k);
    const float highReference = KthSmallest(valuesAtHighBound, k);
    const float span = highReference - lowReference;
    OutputScale scale;
    scale.gain = static_cast<float>(255.0 / static_cast<double>(span));
    scale.offset = -lowReference;
    return scale;
}

void ApplyOutputScale(std::vector<std::vector<float>>& coefficients, const OutputScale& scale) {
    for (std::vector<float>& column : coefficients) {
        column[0] += scale.offset;
        for (float& coefficient : column) coefficient *= scale.gain;
    }
}

bool OutputScales::Finite() const {
    return std::isfinite(quad.gain) && std::isfinite(cubic.gain);
}

OutputScales ScaleFitsToOutputRange(std::vector<std::vector<float>>& quadCoeffs,
                                    std::vector<std::vector<float>>& cubicCoeffs, const FitRange& range) {
    OutputScales scales;
    scales.quad = ScaleOfFamily(quadCoeffs, range);
    scales.cubic = ScaleOfFamily(cubicCoeffs, range);
    ApplyOutputScale(quadCoeffs, scales.quad);
    ApplyOutputScale(cubicCoeffs, scales.cubic);
    return scales;
}

void CommitOutputScales(const OutputScales& scales, FlatFieldCorrectionInstance& instance) noexcept {
    instance.quadOffset = 0.0f;
    instance.cubicOffset = 0.0f;
    instance.realQuadGain = scales.quad.gain;
    instance.realCubicGain = scales.cubic.gain;
    instance.quadGain = 1.0f;
    instance.cubicGain = 1.0f;
}

}  // namespace ffc
