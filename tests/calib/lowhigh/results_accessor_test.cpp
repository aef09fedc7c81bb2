#include "calib/lowhigh/results_accessor.h"

#include <gtest/gtest.h>

#include "VyrCISFlatfieldCorrection.h"

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
    std::vector<bool> flags = {false, false, false, false, false};
    std::vector<std::vector<uint8_t>> ranges;
    CopyOutColumnResults(instance, &quad, &cubic, &flags, &ranges);
    EXPECT_EQ(quad, instance.quadCoeffs);
    EXPECT_EQ(cubic, instance.cubicCoeffs);
    EXPECT_EQ(flags, (std::vector<bool>{true, false, false}));
    // Levels are reported by their low 8 bits.
    EXPECT_EQ(ranges, (std::vector<std::vector<uint8_t>>{{12, 44}, {}, {}}));

    // Null outputs are skipped.
    CopyOutColumnResults(instance, nullptr, nullptr, nullptr, &ranges);
    EXPECT_EQ(ranges.size(), 3u);
}

TEST(ResultsAccessor, FreshInstanceGivesEmptyListsAndZeroGains) {
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    std::vector<std::vector<float>> quad = {{1}};
    std::vector<std::vector<float>> cubic = {{1}};
    std::vector<bool> flags = {true};
    std::vector<std::vector<uint8_t>> ranges = {{1}};
    float gains[5] = {7, 7, 7, 7, 7};
    GetFlatFieldCorrectionPolyval_NewNew(instance, &quad, &cubic, &flags, &ranges, &gains[0], &gains[1],
                                         &gains[2], &gains[3]);
    EXPECT_TRUE(quad.empty() && cubic.empty() && flags.empty() && ranges.empty());
    EXPECT_EQ((std::vector<float>(gains, gains + 4)), (std::vector<float>{0, 0, 0, 0}));
    quad = {{1}};
    GetFlatFieldCorrectionPolyval_New(instance, &quad, nullptr, nullptr, nullptr, &gains[4]);
    EXPECT_TRUE(quad.empty());
    EXPECT_EQ(gains[4], 0.0f);
    // A null instance does nothing.
    GetFlatFieldCorrectionPolyval_New(nullptr, &quad, nullptr, nullptr, nullptr, &gains[4]);
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

}  // namespace
}  // namespace ffc
