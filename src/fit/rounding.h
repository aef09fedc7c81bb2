// Rounding of fitted coefficients to a number of significant decimal digits.
#ifndef VYR_FFC_ROUNDING_H
#define VYR_FFC_ROUNDING_H

#include <cstdint>
#include <vector>

namespace ffc {

// Rounds every element in place to `digits` significant decimal digits:
// e = digits - ceil(log10|v|) (in float), scale = 10^e in double (exactly 100
// for e = 2), r = round(v * scale) with halves away from zero, and the stored
// value is (float)((double)(int32)r / scale). Zeros become +0; NaN and
// infinities are kept; an r beyond int32 is divided without the int32 step.
// More digits than a float holds (10 or more) leave every value as it is,
// which is what the rule gives there until the power of ten overflows.
void RoundToSignificantDigits(std::vector<float>& values, uint32_t digits);

}  // namespace ffc

#endif  // VYR_FFC_ROUNDING_H
