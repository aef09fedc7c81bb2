// Both low/high runs end to end: on a simulated folder, and on hand-made
// images whose columns are uniform, so every profile value is exact.
#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "cis_simulator.h"
#include "fit/polynomial.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

constexpr int32_t kWidth = 120;
constexpr int32_t kHeight = 2;
const std::vector<int32_t> kReferenceColumns = {2, 7};

// Column c under light L reads L times a gain of 0.9 to 1.1 (1.0 at the
// reference columns); column 0 reads 0 below light 70.
void WriteImage(const std::string& path, int32_t light, int32_t rows = kHeight) {
    cv::Mat image(rows, kWidth, CV_8UC1);
    for (int32_t c = 0; c < kWidth; ++c) {
        const double raw = c == 0 && light < 70 ? 0.0 : std::floor(light * (0.9 + 0.05 * (c % 5)));
        image.col(c).setTo(std::min(255.0, raw));
    }
    ASSERT_TRUE(cv::imwrite(path, image));
}

FlatFieldCorrectionInstance* ConfiguredInstance(const std::string& folder, std::vector<int32_t> references,
                                                int32_t height, int32_t width) {
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    EXPECT_TRUE(SetFlatFieldCorrectionParameters(instance, folder, references, height, width));
    return instance;
}

// Everything the accessors hand out, plus the tables.
struct Results {
    std::vector<std::vector<float>> quad, cubic;
    std::vector<bool> flags;
    std::vector<std::vector<uint8_t>> darkRanges;
    std::vector<float> gains = std::vector<float>(7, -1.0f);  // four of NewNew, range, two real
    std::vector<std::vector<int32_t>> luts;
    bool operator==(const Results& o) const {
        return std::tie(quad, cubic, flags, darkRanges, gains, luts) ==
               std::tie(o.quad, o.cubic, o.flags, o.darkRanges, o.gains, o.luts);
    }
};

Results ReadResults(FlatFieldCorrectionInstance* instance) {
    Results r;
    GetFlatFieldCorrectionPolyval_NewNew(instance, &r.quad, &r.cubic, &r.flags, &r.darkRanges, &r.gains[0],
                                         &r.gains[1], &r.gains[2], &r.gains[3]);
    Results previous;
    GetFlatFieldCorrectionPolyval_New(instance, &previous.quad, &previous.cubic, &previous.flags,
                                      &previous.darkRanges, &r.gains[4]);
    EXPECT_TRUE(previous.quad == r.quad && previous.flags == r.flags && previous.darkRanges == r.darkRanges);
    Return_realcoeffgain(instance, &r.gains[5], &r.gains[6]);
    r.luts = instance->columnLuts;
    return r;
}

// Shapes of a low/high result and the flagged column 0 (raw 0 at lights 40 to 60).
void ExpectLowHighShapes(const Results& r, size_t width, bool darkColumn) {
    ASSERT_EQ(r.quad.size(), width);
    ASSERT_EQ(r.luts.size(), width);
    for (size_t c = 0; c < width; ++c) {
        EXPECT_TRUE(r.quad[c].size() == 3 && r.cubic[c].size() == 4 && r.luts[c].size() == 256);
        if (!darkColumn) continue;
        EXPECT_EQ(r.flags[c], c == 0);
        EXPECT_EQ(r.darkRanges[c], (c == 0 ? std::vector<uint8_t>{40, 60} : std::vector<uint8_t>{}));
    }
}

// At least three quarters of the columns come out at 0 at the low bound and at
// 255 at the high bound.
void ExpectOutputSpansFullRange(const std::vector<std::vector<float>>& family, float low, float high) {
    size_t black = 0;
    size_t white = 0;
    for (const std::vector<float>& coefficients : family) {
        black += PolyvalGrayFloat(coefficients, low) < 0.01f ? 1 : 0;
        white += PolyvalGrayFloat(coefficients, high) > 254.99f ? 1 : 0;
    }
    EXPECT_GE(black * 4, family.size() * 3);
    EXPECT_GE(white * 4, family.size() * 3);
}

TEST(LowHighRuns, HandMadeFolderGivesExactResults) {
    // Lights 40, 50, ..., 170: every image is its own level.
    testing::TempFolder folder;
    for (int32_t j = 0; j < 14; ++j) WriteImage(folder.path() + std::to_string(100 + j) + ".bmp", 40 + 10 * j);
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(folder.path(), kReferenceColumns, kHeight, kWidth);
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, {}));
    const Results current = ReadResults(instance);
    ExpectLowHighShapes(current, kWidth, true);
    EXPECT_EQ((std::vector<float>(current.gains.begin(), current.gains.begin() + 5)),
              (std::vector<float>{1, 0, 1, 0, 0}));
    for (int32_t raw = 40; raw <= 170; ++raw) EXPECT_EQ(current.luts[2][raw], raw);
    // Without groups the bounds are 35 and 180.
    ExpectOutputSpansFullRange(current.quad, 35.0f, 180.0f);
    ExpectOutputSpansFullRange(current.cubic, 35.0f, 180.0f);
    EXPECT_NEAR(current.gains[5], 255.0f / 145.0f, 0.2f);

    // The previous generation: unscaled fits, a reference column maps raw
    // gray to about itself; the current run's gains survive.
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(instance, 6, {}));
    const Results previous = ReadResults(instance);
    ExpectLowHighShapes(previous, kWidth, true);
    EXPECT_EQ(previous.luts, current.luts);
    EXPECT_EQ(previous.gains[4], static_cast<float>(255.0 / 180.0));
    EXPECT_EQ((std::vector<float>(previous.gains.begin(), previous.gains.begin() + 4)),
              (std::vector<float>{1, 0, 1, 0}));
    EXPECT_EQ(previous.gains[5], current.gains[5]);
    for (float raw : {50.0f, 100.0f, 150.0f}) EXPECT_NEAR(PolyvalGrayFloat(previous.quad[2], raw), raw, 1.0f);

    DestroyFlatFieldCorrectionVyrInstance(instance);
}

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
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(folder.path(), references, options.height, options.width);

    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, groups));
    const Results current = ReadResults(instance);
    ExpectLowHighShapes(current, options.width, false);
    EXPECT_TRUE(std::count(current.flags.begin(), current.flags.end(), true) > 0);
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(instance, 6, groups));
    const Results previous = ReadResults(instance);
    EXPECT_EQ(previous.flags, current.flags);
    EXPECT_NE(previous.quad, current.quad);

    // The segmented run rewrites the coefficients only.
    RunFlatFieldCorrectionTool_autosegment(instance, 6, groups);
    Results segmented = ReadResults(instance);
    EXPECT_NE(segmented.quad, previous.quad);
    segmented.quad = previous.quad;
    segmented.cubic = previous.cubic;
    EXPECT_TRUE(segmented == previous);
    // The current generation again restores its own results, bit for bit,
    // beside the range gain of the previous generation.
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, groups));
    Results again = ReadResults(instance);
    EXPECT_EQ(again.gains[4], previous.gains[4]);
    again.gains[4] = current.gains[4];
    EXPECT_TRUE(again == current);
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

}  // namespace
}  // namespace ffc
