// The fast correction must give the plain per-pixel rules' bits on random
// instances and images, narrow and wide, short and tall, in every mode of
// both generations, into another output and in place; modes 0, 1 and 4 must
// be the same operation in both generations. The whole correction runs the
// table fill and lookup this machine picks; the table pass alone is checked
// with each table fill and each strip lookup by name.
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "correct/correction_plan.h"
#include "correct/strip_lookup.h"
#include "support/correction_check.h"
#include "support/random_cases.h"

namespace ffc::testing {
namespace {

TEST(FastCorrection, MatchesThePlainRulesOnRandomInstancesAndImages) {
    std::cout << "[ NOTE     ] the correction takes the " << LookupPathName(ChosenLookupPath()) << " lookup\n";
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

class TablePass : public ::testing::TestWithParam<std::tuple<TableFill, LookupPath>> {
protected:
    void SetUp() override {
        const auto [fill, path] = GetParam();
        if (!TableFillRuns(fill)) GTEST_SKIP() << "this build has no SSE2 table fill";
        if (!LookupPathRuns(path)) GTEST_SKIP() << LookupPathName(path) << " does not run on this machine";
    }
};

// Every pixel of a tall image gets its rule's value from scratch, in every
// mode and generation whose rule covers the image, beside and in place.
TEST_P(TablePass, GivesEveryPixelItsRegularValue) {
    const auto [fill, path] = GetParam();
    SeededSource random(31);
    for (int trial = 0; trial < 60; ++trial) {
        const int width = random.Chance(3) ? random.InRange(100, 400) : random.InRange(1, 70);
        const FlatFieldCorrectionInstance instance = RandomInstance(random, width, true);
        const cv::Mat input = RandomImage(random, random.InRange(64, 140), width);
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            for (int mode : {0, 4, 5, 6, -1}) {
                const CorrectionPlan plan = PlanCorrection(instance, generation, mode);
                for (bool inPlace : {false, true}) {
                    cv::Mat output = input.clone();
                    if (!StartCorrection(instance, plan, input, output)) continue;
                    PreparedRule prepared = PrepareRule(plan.rule, width);
                    prepared.fill = fill;
                    std::vector<uint8_t> storage(ColumnTablesSize(width) + 64);
                    uint8_t* tables = storage.data() + (64 - reinterpret_cast<uintptr_t>(storage.data()) % 64) % 64;
                    FillColumnTables(prepared, tables);
                    prepared.columnTables = tables;
                    prepared.lookup = path;
                    WriteRegularValues(prepared, inPlace ? output : input, output, input.rows);
                    for (int r = 0; r < input.rows; ++r) {
                        for (int c = 0; c < width; ++c) {
                            ASSERT_EQ(output.at<uint8_t>(r, c), RegularValue(plan.rule, c, input.at<uint8_t>(r, c)))
                                << "trial " << trial << " mode " << mode << " row " << r << " column " << c;
                        }
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachFillAndLookup, TablePass,
                         ::testing::Combine(::testing::ValuesIn(kTableFills), ::testing::ValuesIn(kLookupPaths)),
                         [](const auto& info) {
                             const bool plainFill = std::get<0>(info.param) == TableFill::kPlain;
                             return std::string(plainFill ? "PlainFill" : "Sse2Fill") +
                                    LookupPathName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace ffc::testing
