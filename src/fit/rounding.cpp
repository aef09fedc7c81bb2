#include "fit/rounding.h"

#include <cmath>

namespace ffc {

namespace {

float RoundValue(float value, uint32_t digits) {
    if (value == 0.0f) return 0.0f;
    if (!std::isfinite(value)) return value;
    const int32_t magnitude = static_cast<int32_t>(std::ceil(std::log10(std::fabs(value))));
    // The digit count is unsigned; the difference wraps and is read back as a
    // signed exponent, which is exact for every realistic count.
    const int32_t exponent = static_cast<int32_t>(digits - static_cast<uint32_t>(magnitude));
    const double scale = exponent == 2 ? 100.0 : std::pow(10.0, static_cast<double>(exponent));
    const double rounded = std::round(static_cast<double>(value) * scale);
    if (!(std::fabs(rounded) <= 2147483647.0)) return static_cast<float>(rounded / scale);
    return static_cast<float>(static_cast<double>(static_cast<int32_t>(rounded)) / scale);
}

}  // namespace

void RoundToSignificantDigits(std::vector<float>& values, uint32_t digits) {
    for (float& value : values) value = RoundValue(value, digits);
}

}  // namespace ffc
