// The fast correction must give the plain per-pixel rules' bits on random
// instances and images, narrow and wide, short and tall (the table pass), in
// every mode of both generations, into another output and in place, with each
// lookup path the processor runs; modes 0, 1 and 4 must be the same operation
// in both generations.
#include <string>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "correct/strip_lookup.h"
#include "support/correction_check.h"
#include "support/random_cases.h"

namespace ffc::testing {
namespace {

class FastCorrection : public ::testing::TestWithParam<LookupPath> {
protected:
    void SetUp() override { ASSERT_TRUE(UseLookupPath(GetParam())); }
    void TearDown() override { UseLookupPath(SupportedLookupPaths().back()); }
};

TEST_P(FastCorrection, MatchesThePlainRulesOnRandomInstancesAndImages) {
    SeededSource random(12);
    const int kRowCounts[] = {1, 2, 5, 40, 63, 64, 100, 256};
    for (int trial = 0; trial < 160; ++trial) {
        const int width = random.Chance(5) ? random.InRange(100, 400) : random.InRange(1, 30);
        const FlatFieldCorrectionInstance instance = RandomInstance(random, width, !random.Chance(3));
        const cv::Mat input = RandomImage(random, kRowCounts[random.Byte() % 8], width);
        const cv::Mat output = input ^ cv::Scalar(0x5A);
        for (bool inPlace : {false, true}) {
            for (int mode : {0, 1, 4, 5, 6, 2, -1}) {
                std::string current, previous;
                ASSERT_EQ(DifferenceFromPlain(instance, input, output, mode, Generation::kCurrent, inPlace, &current),
                          "") << "trial " << trial;
                ASSERT_EQ(DifferenceFromPlain(instance, input, output, mode, Generation::kPrevious, inPlace,
                                              &previous), "") << "trial " << trial;
                if (mode == 0 || mode == 1 || mode == 4) ASSERT_TRUE(current == previous) << "trial " << trial;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachLookupPath, FastCorrection, ::testing::ValuesIn(SupportedLookupPaths()),
                         [](const auto& path) {
                             const LookupPath p = path.param;
                             return p == LookupPath::kPlain ? "Plain" : p == LookupPath::kAvx2 ? "Avx2" : "Avx512Vbmi";
                         });

}  // namespace
}  // namespace ffc::testing
