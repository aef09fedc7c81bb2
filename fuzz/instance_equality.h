// Bit-for-bit equality of two instances, so that NaN results compare equal to
// themselves: a call that must leave the instance as it was is checked on every
// field.
#ifndef FFC_FUZZ_INSTANCE_EQUALITY_H
#define FFC_FUZZ_INSTANCE_EQUALITY_H

#include <cstring>
#include <type_traits>
#include <vector>

#include "instance/instance.h"

namespace ffc::fuzz {

template <typename T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    if constexpr (std::is_arithmetic_v<T>) {
        return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameBits(a[i], b[i])) return false;
    }
    return true;
}

inline bool SameInstance(const FlatFieldCorrectionInstance& a, const FlatFieldCorrectionInstance& b) {
    return a.imageFolder == b.imageFolder && SameBits(a.referenceColumns, b.referenceColumns) &&
           a.imageHeight == b.imageHeight && a.imageWidth == b.imageWidth && SameBits(a.columnLuts, b.columnLuts) &&
           SameBits(a.lutExactColumns, b.lutExactColumns) && SameBits(a.lutDarkHoleColumns, b.lutDarkHoleColumns) &&
           SameBits(a.lutHoleCandidates, b.lutHoleCandidates) && SameBits(a.quadGain, b.quadGain) &&
           SameBits(a.quadOffset, b.quadOffset) && SameBits(a.cubicGain, b.cubicGain) &&
           SameBits(a.cubicOffset, b.cubicOffset) && SameBits(a.realQuadGain, b.realQuadGain) &&
           SameBits(a.realCubicGain, b.realCubicGain) && SameBits(a.columnFlags, b.columnFlags) &&
           SameBits(a.columnDarkRanges, b.columnDarkRanges) && SameBits(a.quadCoeffs, b.quadCoeffs) &&
           SameBits(a.cubicCoeffs, b.cubicCoeffs) && SameBits(a.segQuadCoeffs, b.segQuadCoeffs) &&
           SameBits(a.segQuadBreaks, b.segQuadBreaks) && SameBits(a.segCubicCoeffs, b.segCubicCoeffs) &&
           SameBits(a.segCubicBreaks, b.segCubicBreaks) && SameBits(a.rangeGain, b.rangeGain);
}

}  // namespace ffc::fuzz

#endif  // FFC_FUZZ_INSTANCE_EQUALITY_H
