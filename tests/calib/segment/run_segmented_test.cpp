#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

constexpr int kWidth = 10;

// Image i is 2 rows of 8i + c in column c, so profiles are exact and the
// reference level over columns {3, 7} is 8i + 5.
void WriteImages(const std::string& folder, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        cv::Mat image(2, kWidth, CV_8UC1);
        for (int c = 0; c < kWidth; ++c) image.col(c).setTo(8 * i + c);
        cv::imwrite(folder + "img" + std::to_string(100 + i) + ".bmp", image);
    }
}

FlatFieldCorrectionInstance Configured(const std::string& folder, std::vector<int32_t> referenceColumns) {
    FlatFieldCorrectionInstance instance;
    instance.imageFolder = folder;
    instance.referenceColumns = std::move(referenceColumns);
    instance.imageHeight = 2;
    instance.imageWidth = kWidth;
    return instance;
}

TEST(SegmentedRun, NeedsTenUsableImagesAndTouchesNothingBefore) {
    testing::TempFolder folder;
    WriteImages(folder.path(), 0, 9);
    cv::imwrite(folder.path() + "wrong_size.bmp", cv::Mat(3, kWidth, CV_8UC1, cv::Scalar(9)));
    FlatFieldCorrectionInstance instance = Configured(folder.path(), {3, 7});
    instance.segQuadBreaks = {42};
    instance.quadCoeffs = {{1.0f}};
    EXPECT_FALSE(RunFlatFieldCorrectionTool_autosegment(&instance, 6, {}));
    EXPECT_EQ(instance.segQuadBreaks, std::vector<int32_t>{42});
    EXPECT_EQ(instance.quadCoeffs, std::vector<std::vector<float>>{{1.0f}});
    EXPECT_FALSE(RunFlatFieldCorrectionTool_autosegment(nullptr, 6, {}));

    // Ten images run, but x stays below the window 159..211: no upper piece,
    // so false with every field written.
    WriteImages(folder.path(), 9, 1);
    EXPECT_FALSE(RunFlatFieldCorrectionTool_autosegment(&instance, 6, {}));
    EXPECT_EQ(instance.segQuadBreaks, std::vector<int32_t>(kWidth, 256));
    EXPECT_EQ(instance.segCubicBreaks, std::vector<int32_t>(kWidth, 256));
    ASSERT_EQ(instance.quadCoeffs.size(), static_cast<size_t>(kWidth));
    EXPECT_EQ(instance.segQuadCoeffs[3][0], instance.quadCoeffs[3]);
    EXPECT_EQ(instance.segCubicCoeffs[7][1], std::vector<float>(4, 0.0f));
}

// Listed columns are taken in ascending order: {7, 3} fits only 7, while the
// reference levels still average both columns.
TEST(SegmentedRun, FitsListedColumnsInAscendingOrderOnly) {
    testing::TempFolder folder;
    WriteImages(folder.path(), 0, 30);
    const std::vector<std::vector<int32_t>> listings = {{3, 7}, {7, 3}};
    for (const std::vector<int32_t>& listed : listings) {
        FlatFieldCorrectionInstance instance = Configured(folder.path(), listed);
        EXPECT_TRUE(RunFlatFieldCorrectionTool_autosegment(&instance, 6, {{0, 1, 2, 3}}));
        std::vector<std::vector<std::vector<float>>> pieces;
        std::vector<int32_t> breaks;
        GetFlatFieldCorrectionPolyval_Seg_2(&instance, &pieces, &breaks);
        GetFlatFieldCorrectionPolyval_Seg_2(&instance, nullptr, nullptr);
        ASSERT_EQ(pieces.size(), static_cast<size_t>(kWidth));
        ASSERT_EQ(breaks.size(), static_cast<size_t>(kWidth));
        for (int c = 0; c < kWidth; ++c) {
            const bool fitted = c == 7 || (c == 3 && listed[0] == 3);
            ASSERT_EQ(pieces[c].size(), 2u);
            ASSERT_EQ(instance.segCubicCoeffs[c].size(), 2u);
            if (!fitted) {
                EXPECT_EQ(breaks[c], 256) << c;
                EXPECT_EQ(pieces[c][1], std::vector<float>(3, 0.0f));
                EXPECT_EQ(instance.cubicCoeffs[c], std::vector<float>(4, 0.0f));
                continue;
            }
            // Points lie on y = x + 5 - c; the window of topLevel 255 is 159..211.
            EXPECT_GE(breaks[c], 161) << c;
            EXPECT_LE(breaks[c], 208) << c;
            EXPECT_NEAR(instance.quadCoeffs[c][0], 5.0f - c, 1e-2f);
            EXPECT_NEAR(instance.quadCoeffs[c][1], 1.0f, 1e-4f);
            EXPECT_EQ(pieces[c][0].size(), 3u);
            EXPECT_EQ(instance.segCubicCoeffs[c][1].size(), 4u);
        }
    }
}

}  // namespace
}  // namespace ffc
