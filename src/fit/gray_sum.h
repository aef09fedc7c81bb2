// A polynomial's value as a gray level, term by term: the one home of the
// operations that every evaluation (the fit's checks, the per-pixel rules,
// the column tables) must share bit for bit. The sums take the terms in
// ascending powers; the build keeps each product and sum separately rounded.
#ifndef VYR_FFC_GRAY_SUM_H
#define VYR_FFC_GRAY_SUM_H

namespace ffc {

// The float sum after the term power * coefficient.
inline float AddFloatTerm(float sum, float power, float coefficient) { return power * coefficient + sum; }

// The double sum after the float term power * coefficient.
inline double AddDoubleTerm(double sum, float power, float coefficient) {
    return sum + static_cast<double>(power * coefficient);
}

// A float value clamped to 0..255, not rounded; NaN gives 0.
inline float ClampToGray(float value) { return value > 255.0f ? 255.0f : (value > 0.0f ? value : 0.0f); }

// A double sum truncated toward zero and clamped to 0..255; NaN gives 0. The
// comparisons come first, so that NaN and sums beyond int never reach the
// conversion.
inline int GrayOfDoubleSum(double sum) {
    if (!(sum > 0.0)) return 0;
    if (sum >= 255.0) return 255;
    return static_cast<int>(sum);
}

}  // namespace ffc

#endif  // VYR_FFC_GRAY_SUM_H
