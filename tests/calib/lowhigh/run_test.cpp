// Both low/high runs end to end on folders of hand-made images whose columns
// are uniform, so every profile value is an exact integer.
#include <cmath>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "fit/polynomial.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

constexpr int32_t kWidth = 120;
constexpr int32_t kHeight = 2;
const std::vector<int32_t> kReferenceColumns = {2, 7};

// Raw value of column c under light L: gains 0.9 to 1.1 in steps of 0.05
// (1.0 at the reference columns); column 0 reads 0 below light 70.
uint8_t RawValue(int32_t c, int32_t light) {
    if (c == 0 && light < 70) return 0;
    const double gain = 0.9 + 0.05 * (c % 5);
    return static_cast<uint8_t>(std::min(255.0, std::floor(light * gain)));
}

void WriteImage(const std::string& path, int32_t light, int32_t rows = kHeight) {
    cv::Mat image(rows, kWidth, CV_8UC1);
    for (int32_t c = 0; c < kWidth; ++c) image.col(c).setTo(RawValue(c, light));
    ASSERT_TRUE(cv::imwrite(path, image));
}

// Lights 40, 50, ..., 170: every image is its own level.
void WriteCalibrationFolder(const std::string& folder) {
    for (int32_t j = 0; j < 14; ++j) WriteImage(folder + "light" + std::to_string(100 + j) + ".bmp", 40 + 10 * j);
}

FlatFieldCorrectionInstance* ConfiguredInstance(const std::string& folder) {
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    EXPECT_TRUE(SetFlatFieldCorrectionParameters(instance, folder, kReferenceColumns, kHeight, kWidth));
    return instance;
}

// Everything the accessors hand out, plus the tables.
struct Results {
    std::vector<std::vector<float>> quad, cubic;
    std::vector<bool> flags;
    std::vector<std::vector<uint8_t>> darkRanges;
    float quadGain = -1, quadOffset = -1, cubicGain = -1, cubicOffset = -1, rangeGain = -1;
    float realQuadGain = -1, realCubicGain = -1;
    std::vector<std::vector<int32_t>> luts;

    bool operator==(const Results& other) const {
        return quad == other.quad && cubic == other.cubic && flags == other.flags && darkRanges == other.darkRanges &&
               quadGain == other.quadGain && quadOffset == other.quadOffset && cubicGain == other.cubicGain &&
               cubicOffset == other.cubicOffset && rangeGain == other.rangeGain &&
               realQuadGain == other.realQuadGain && realCubicGain == other.realCubicGain && luts == other.luts;
    }
};

Results ReadResults(FlatFieldCorrectionInstance* instance) {
    Results results;
    GetFlatFieldCorrectionPolyval_NewNew(instance, &results.quad, &results.cubic, &results.flags, &results.darkRanges,
                                         &results.quadGain, &results.quadOffset, &results.cubicGain,
                                         &results.cubicOffset);
    Results previous;
    GetFlatFieldCorrectionPolyval_New(instance, &previous.quad, &previous.cubic, &previous.flags,
                                      &previous.darkRanges, &results.rangeGain);
    EXPECT_EQ(previous.quad, results.quad);
    EXPECT_EQ(previous.flags, results.flags);
    EXPECT_EQ(previous.darkRanges, results.darkRanges);
    Return_realcoeffgain(instance, &results.realQuadGain, &results.realCubicGain);
    results.luts = instance->columnLuts;
    return results;
}

using RunFunction = bool (*)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>);
const RunFunction kRuns[] = {RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew,
                             RunFlatFieldCorrectionTool_lowhigh_map_simple_New};

void ExpectShapesAndDarkColumn(const Results& results) {
    ASSERT_EQ(results.quad.size(), static_cast<size_t>(kWidth));
    ASSERT_EQ(results.luts.size(), static_cast<size_t>(kWidth));
    for (int32_t c = 0; c < kWidth; ++c) {
        EXPECT_EQ(results.quad[c].size(), 3u);
        EXPECT_EQ(results.cubic[c].size(), 4u);
        EXPECT_EQ(results.luts[c].size(), 256u);
        // Column 0 read 0 at lights 40, 50 and 60.
        EXPECT_EQ(results.flags[c], c == 0);
        EXPECT_EQ(results.darkRanges[c], (c == 0 ? std::vector<uint8_t>{40, 60} : std::vector<uint8_t>{}));
    }
}

TEST(CurrentGenerationRun, ScaledFitsSpanTheOutputRangeOverTheFittingRange) {
    testing::TempFolder folder;
    WriteCalibrationFolder(folder.path());
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(folder.path());
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, {}));
    const Results results = ReadResults(instance);
    ExpectShapesAndDarkColumn(results);
    EXPECT_EQ(results.quadGain, 1.0f);
    EXPECT_EQ(results.quadOffset, 0.0f);
    EXPECT_EQ(results.cubicGain, 1.0f);
    EXPECT_EQ(results.cubicOffset, 0.0f);
    EXPECT_EQ(results.rangeGain, 0.0f);
    // A reference column's table is the identity over the lights seen.
    for (int32_t raw = 40; raw <= 170; ++raw) EXPECT_EQ(results.luts[2][raw], raw);

    // Without groups the bounds are 35 and 180; at least three quarters of
    // the columns come out at 0 at the low end and at 255 at the high end.
    for (const auto* family : {&results.quad, &results.cubic}) {
        int atBlack = 0;
        int atWhite = 0;
        for (const std::vector<float>& coefficients : *family) {
            atBlack += PolyvalGrayFloat(coefficients, 35.0f) < 0.01f ? 1 : 0;
            atWhite += PolyvalGrayFloat(coefficients, 180.0f) > 254.99f ? 1 : 0;
        }
        EXPECT_GE(atBlack, kWidth * 3 / 4);
        EXPECT_GE(atWhite, kWidth * 3 / 4);
    }
    // The folded-in gain stretches the 145 gray levels between the bounds.
    EXPECT_NEAR(results.realQuadGain, 255.0f / 145.0f, 0.2f);
    EXPECT_NEAR(results.realCubicGain, 255.0f / 145.0f, 0.2f);
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

TEST(PreviousGenerationRun, StoresUnscaledFitsAndRangeGain) {
    testing::TempFolder folder;
    WriteCalibrationFolder(folder.path());
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(folder.path());
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(instance, 6, {}));
    const Results results = ReadResults(instance);
    ExpectShapesAndDarkColumn(results);
    EXPECT_EQ(results.rangeGain, static_cast<float>(255.0 / 180.0));
    // Untouched by this run: the fresh gains and offsets.
    EXPECT_EQ(results.quadGain, 0.0f);
    EXPECT_EQ(results.realQuadGain, 1.0f);
    // A reference column maps raw gray to about the same level.
    for (float raw : {50.0f, 100.0f, 150.0f}) {
        EXPECT_NEAR(PolyvalGrayFloat(results.quad[2], raw), raw, 1.0f);
        EXPECT_NEAR(PolyvalGrayFloat(results.cubic[7], raw), raw, 1.0f);
    }
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

TEST(LowHighRuns, RejectedInputsLeaveEveryResultAsItWas) {
    testing::TempFolder good;
    WriteCalibrationFolder(good.path());
    testing::TempFolder tooFew;
    for (int32_t light : {60, 90, 120}) WriteImage(tooFew.path() + std::to_string(light) + ".bmp", light);
    WriteImage(tooFew.path() + "tall.bmp", 150, kHeight + 1);
    testing::TempFolder saturated;
    for (int i = 0; i < 4; ++i) WriteImage(saturated.path() + std::to_string(i) + ".bmp", 255);

    struct Case {
        std::string folder;
        std::vector<int32_t> referenceColumns;
        int32_t height;
        int32_t width;
        std::vector<std::vector<int32_t>> groups;
    };
    const Case cases[] = {
        {good.path(), kReferenceColumns, kHeight, 0, {}},
        {good.path(), kReferenceColumns, -1, kWidth, {}},
        {good.path(), {}, kHeight, kWidth, {}},
        {good.path(), {2, kWidth}, kHeight, kWidth, {}},
        {good.path(), kReferenceColumns, kHeight, kWidth, {{0, 1}, {5, -1}}},
        {good.path(), kReferenceColumns, kHeight, kWidth, {{kWidth}}},
        {tooFew.path(), kReferenceColumns, kHeight, kWidth, {}},
        {saturated.path(), kReferenceColumns, kHeight, kWidth, {}},
    };
    for (RunFunction run : kRuns) {
        EXPECT_FALSE(run(nullptr, 6, {}));
        FlatFieldCorrectionInstance* instance = ConfiguredInstance(good.path());
        ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, {}));
        ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(instance, 6, {}));
        const Results before = ReadResults(instance);
        for (const Case& rejected : cases) {
            ASSERT_TRUE(SetFlatFieldCorrectionParameters(instance, rejected.folder, rejected.referenceColumns,
                                                         rejected.height, rejected.width));
            EXPECT_FALSE(run(instance, 6, rejected.groups));
            EXPECT_TRUE(ReadResults(instance) == before);
        }
        // A fourth image of the right size is enough.
        WriteImage(tooFew.path() + "150.bmp", 150);
        ASSERT_TRUE(SetFlatFieldCorrectionParameters(instance, tooFew.path(), kReferenceColumns, kHeight, kWidth));
        EXPECT_TRUE(run(instance, 6, {}));
        std::remove((tooFew.path() + "150.bmp").c_str());
        DestroyFlatFieldCorrectionVyrInstance(instance);
    }
}

TEST(LowHighRuns, EachRunRewritesOnlyItsOwnFields) {
    testing::TempFolder folder;
    WriteCalibrationFolder(folder.path());
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(folder.path());
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, {}));
    const Results current = ReadResults(instance);

    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_New(instance, 6, {}));
    const Results previous = ReadResults(instance);
    EXPECT_NE(previous.quad, current.quad);
    EXPECT_EQ(previous.luts, current.luts);
    EXPECT_EQ(previous.rangeGain, static_cast<float>(255.0 / 180.0));
    // Gains and real gains of the current run survive.
    EXPECT_EQ(previous.quadGain, 1.0f);
    EXPECT_EQ(previous.realQuadGain, current.realQuadGain);
    EXPECT_EQ(previous.realCubicGain, current.realCubicGain);

    // Running the current generation again restores its fits; the range gain
    // of the previous run stays.
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, {}));
    Results again = ReadResults(instance);
    EXPECT_EQ(again.rangeGain, previous.rangeGain);
    again.rangeGain = current.rangeGain;
    EXPECT_TRUE(again == current);
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

}  // namespace
}  // namespace ffc
