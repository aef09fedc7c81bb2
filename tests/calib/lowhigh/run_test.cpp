// Both low/high runs end to end: on hand-made images whose columns are
// uniform, so every profile value is exact, and on a simulated folder in
// sequence with the segmented run, which shares some of their fields.
#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "calib/runs.h"
#include "cis_simulator.h"
#include "fit/polynomial.h"
#include "instance/instance.h"
#include "support/instance_bytes.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

TEST(LowHighRuns, HandMadeFolderGivesExactResults) {
    // Lights 40, 50, ..., 170, each its own level. Column c reads the light
    // times 0.9 to 1.1 (1.0 at the reference columns 2 and 7); column 0 reads
    // 0 below light 70, so three levels share its raw 0.
    constexpr int32_t kWidth = 120;
    testing::TempFolder folder;
    for (int32_t light = 40; light <= 170; light += 10) {
        cv::Mat image(2, kWidth, CV_8UC1);
        for (int32_t c = 0; c < kWidth; ++c) {
            image.col(c).setTo(c == 0 && light < 70 ? 0.0 : std::floor(light * (0.9 + 0.05 * (c % 5))));
        }
        ASSERT_TRUE(cv::imwrite(folder.path() + std::to_string(100 + light) + ".bmp", image));
    }
    FlatFieldCorrectionInstance instance;
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, folder.path(), {2, 7}, 2, kWidth));
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(&instance, 6, {}));
    std::vector<int32_t> flags(kWidth, 0);
    flags[0] = -1;
    auto expectShapes = [&] {
        EXPECT_TRUE(instance.columnLuts.size() == kWidth && instance.cubicCoeffs[kWidth - 1].size() == 4);
        EXPECT_EQ(instance.columnFlags, flags);
        EXPECT_TRUE(instance.columnDarkRanges[0] == std::vector<int32_t>({40, 60}) && instance.columnDarkRanges[1].empty());
    };
    expectShapes();
    EXPECT_EQ((std::vector<float>{instance.quadGain, instance.quadOffset, instance.cubicGain, instance.cubicOffset,
                                  instance.rangeGain}),
              (std::vector<float>{1, 0, 1, 0, 0}));
    for (int32_t raw = 40; raw <= 170; ++raw) EXPECT_EQ(instance.columnLuts[2][raw], raw);
    // Without groups the bounds are 35 and 180, and a reference column spans
    // about 145 levels between them.
    EXPECT_NEAR(instance.realQuadGain, 255.0f / 145.0f, 0.2f);

    // The previous generation: the same tables, unscaled fits (a reference
    // column maps raw gray to about itself), its range gain beside the
    // current run's gains.
    const FlatFieldCorrectionInstance current = instance;
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(&instance, 6, {}));
    expectShapes();
    EXPECT_EQ(instance.columnLuts, current.columnLuts);
    EXPECT_EQ(instance.rangeGain, static_cast<float>(255.0 / 180.0));
    EXPECT_EQ(instance.realQuadGain, current.realQuadGain);
    EXPECT_EQ(instance.quadGain, 1.0f);
    for (float raw : {50.0f, 100.0f, 150.0f}) EXPECT_NEAR(PolyvalGrayFloat(instance.quadCoeffs[2], raw), raw, 1.0f);
}

// The runs share the coefficient fields: the segmented run rewrites them
// beside its own, the current run restores its results bit for bit, and the
// range gain of the previous generation survives both.
TEST(LowHighRuns, SimulatedFolderRunsInSequenceWithTheSegmentedRun) {
    testing::TempFolder folder;
    cissim::SimulatorOptions options;
    options.width = 512;
    options.height = 8;
    cissim::WriteCalibrationFolder(folder.path(), options);
    std::vector<int32_t> references;
    std::vector<std::vector<int32_t>> groups(options.chips);
    for (int32_t c = 0; c < options.width; ++c) groups[c * options.chips / options.width].push_back(c);
    for (int32_t c = 240; c < 272; ++c) references.push_back(c);
    FlatFieldCorrectionInstance instance;
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, folder.path(), references, options.height, options.width));

    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(&instance, 6, groups));
    const FlatFieldCorrectionInstance current = instance;
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(&instance, 6, groups));
    const FlatFieldCorrectionInstance previous = instance;
    EXPECT_NE(previous.quadCoeffs, current.quadCoeffs);

    RunFlatFieldCorrectionTool_autosegment(&instance, 6, groups);
    FlatFieldCorrectionInstance segmented = instance;
    segmented.quadCoeffs = previous.quadCoeffs;
    segmented.cubicCoeffs = previous.cubicCoeffs;
    segmented.segQuadCoeffs = segmented.segCubicCoeffs = {};
    segmented.segQuadBreaks = segmented.segCubicBreaks = {};
    EXPECT_TRUE(testing::InstanceBytes(segmented) == testing::InstanceBytes(previous));

    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(&instance, 6, groups));
    EXPECT_EQ(instance.rangeGain, previous.rangeGain);
    instance.rangeGain = current.rangeGain;
    instance.segQuadCoeffs = instance.segCubicCoeffs = {};
    instance.segQuadBreaks = instance.segCubicBreaks = {};
    EXPECT_TRUE(testing::InstanceBytes(instance) == testing::InstanceBytes(current));
}

// Flat profiles at the given levels: a stopped run names its rule, reports the
// levels it kept (one per level below 255) and writes nothing.
TEST(LowHighRuns, StoppedRunsNameTheirRuleAndLeaveTheInstance) {
    struct Case {
        const char* name;
        std::vector<float> levels;
        RunStatus current, previous;
        size_t levelsKept;
    };
    const Case cases[] = {
        {"saturated", {255, 255, 255, 255}, RunStatus::kAllSaturated, RunStatus::kAllSaturated, 0},
        {"one level and saturated", {0, 255, 0, 255}, RunStatus::kOutputGainNotFinite, RunStatus::kCalibrated, 1},
        {"a range", {40, 80, 255, 120, 160}, RunStatus::kCalibrated, RunStatus::kCalibrated, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<float>> profiles;
        for (float level : c.levels) profiles.emplace_back(16, level);
        for (const bool current : {true, false}) {
            FlatFieldCorrectionInstance instance;
            instance.referenceColumns = {2, 7};
            instance.imageHeight = 2;
            instance.imageWidth = 16;
            const std::string before = testing::InstanceBytes(instance);
            const RunOutcome outcome = current ? RunCurrentGeneration(instance, profiles, {}, 6)
                                               : RunPreviousGeneration(instance, profiles, {}, 6);
            EXPECT_EQ(outcome.status, current ? c.current : c.previous);
            EXPECT_EQ(outcome.levels.size(), c.levelsKept);
            if (outcome.status != RunStatus::kCalibrated) {
                EXPECT_TRUE(testing::InstanceBytes(instance) == before) << "a stopped run wrote";
            }
        }
    }
}

}  // namespace
}  // namespace ffc
