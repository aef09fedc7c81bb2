#include "fit/rounding.h"

#include <cmath>

namespace ffc {

namespace {

// 10^e = 2^e * 5^e, and 5^e < 2^53 for e <= 22, so double holds these
// powers exactly; pow returns an exactly representable result exactly, so the
// table gives the same bits without the call. Fitted coefficients rounded to
// a few significant digits almost always need one of them.
double PowerOfTen(int32_t exponent) {
    static constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (exponent >= 0 && exponent <= 22) return kExactPowers[exponent];
    return std::pow(10.0, static_cast<double>(exponent));
}

// A float holds 7 to 9 significant digits; rounding to more gives the value
// back, and past about 300 digits the power of ten overflows.
constexpr uint32_t kMostDigitsRounded = 9;

float RoundValue(float value, uint32_t digits) {
    if (value == 0.0f) return 0.0f;
    if (!std::isfinite(value) || digits > kMostDigitsRounded) return value;
    const int32_t magnitude = static_cast<int32_t>(std::ceil(std::log10(std::fabs(value))));
    // The digit count is unsigned; the difference wraps and is read back as a
    // signed exponent, which is exact for every realistic count.
    const int32_t exponent = static_cast<int32_t>(digits - static_cast<uint32_t>(magnitude));
    const double scale = PowerOfTen(exponent);
    const double rounded = std::round(static_cast<double>(value) * scale);
    if (!(std::fabs(rounded) <= 2147483647.0)) return static_cast<float>(rounded / scale);
    return static_cast<float>(static_cast<double>(static_cast<int32_t>(rounded)) / scale);
}

}  // namespace

void RoundToSignificantDigits(std::vector<float>& values, uint32_t digits) {
    for (float& value : values) value = RoundValue(value, digits);
}

}  // namespace ffc
