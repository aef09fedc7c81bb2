#include "calib/lowhigh/results_accessor.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

TEST(ResultsAccessor, FlagsOnlyColumnsWithFlagAndTwoLevelDarkRange) {
    // Three columns of coefficients but flags for two, as a segmented run on
    // another width leaves them; the second dark range is incomplete.
    FlatFieldCorrectionInstance instance;
    instance.quadCoeffs = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    instance.cubicCoeffs = {{1, 2, 3, 4}};
    instance.columnFlags = {-1, -1};
    instance.columnDarkRanges = {{12, 300}, {7}};
    std::vector<std::vector<float>> quad;
    std::vector<std::vector<float>> cubic = {{9}};
    std::vector<bool> flags = {false, false, false, false};
    std::vector<std::vector<uint8_t>> ranges;
    CopyOutColumnResults(instance, &quad, &cubic, &flags, &ranges);
    EXPECT_EQ(quad, instance.quadCoeffs);
    EXPECT_EQ(cubic, instance.cubicCoeffs);
    EXPECT_EQ(flags, (std::vector<bool>{true, false, false}));
    // Levels are reported by their low 8 bits.
    EXPECT_EQ(ranges, (std::vector<std::vector<uint8_t>>{{12, 44}, {}, {}}));
}

}  // namespace
}  // namespace ffc
