#include "support/random_groups.h"

#include <cmath>

namespace ffc::testing {

RandomGroupCase MakeRandomGroupCase(std::mt19937& generator, int trial, uint32_t maxSize, uint32_t maxPeriod) {
    constexpr size_t kColumns = 4096;
    RandomGroupCase result;
    const size_t n = trial < 200 ? static_cast<size_t>(trial % 100) : 1 + generator() % maxSize;
    const float period = 2.0f + static_cast<float>(generator() % maxPeriod);
    result.profile.resize(kColumns);
    for (size_t c = 0; c < kColumns; ++c) {
        const float wave = std::sin(static_cast<float>(c) * 6.2831853f / period) * 5.0f;
        result.profile[c] = trial % 5 == 0 ? static_cast<float>(generator() % 3)
                                           : 100.0f + wave + static_cast<float>(generator() % 4);
    }
    result.group.resize(n);
    const int32_t start = static_cast<int32_t>(generator() % 3000);
    for (size_t k = 0; k < n; ++k) {
        result.group[k] = trial % 2 == 0 ? start + static_cast<int32_t>(k) : static_cast<int32_t>(generator() % kColumns);
    }
    return result;
}

}  // namespace ffc::testing
