// Random column groups over rippled or nearly flat profiles, for comparing the
// group measures with their plain rules.
#ifndef FFC_TEST_RANDOM_GROUPS_H
#define FFC_TEST_RANDOM_GROUPS_H

#include <cstdint>
#include <random>
#include <vector>

namespace ffc::testing {

struct RandomGroupCase {
    std::vector<float> profile;
    std::vector<int32_t> group;
};

// Trial t: the first 200 trials take every group size below 100, later ones
// sizes up to maxSize. Every fifth profile is a few levels of noise (ties to
// the mean), the others a sine wave of random period with noise; even trials
// take consecutive columns, odd ones scattered columns.
RandomGroupCase MakeRandomGroupCase(std::mt19937& generator, int trial, uint32_t maxSize, uint32_t maxPeriod);

}  // namespace ffc::testing

#endif  // FFC_TEST_RANDOM_GROUPS_H
