#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

// Image i has 2 rows of 8i + c in column c: exact profiles, and a reference
// level over columns {3, 7} of 8i + 5, so the points of column c lie on
// y = x + 5 - c.
void WriteImages(const std::string& folder, int first, int end) {
    for (int i = first; i < end; ++i) {
        cv::Mat image(2, 10, CV_8UC1);
        for (int c = 0; c < 10; ++c) image.col(c).setTo(8 * i + c);
        cv::imwrite(folder + "img" + std::to_string(100 + i) + ".bmp", image);
    }
}

TEST(SegmentedRun, NeedsTenImagesAndFitsListedColumnsInAscendingOrder) {
    testing::TempFolder folder;
    WriteImages(folder.path(), 0, 9);
    cv::imwrite(folder.path() + "wrong_size.bmp", cv::Mat(3, 10, CV_8UC1, cv::Scalar(9)));
    FlatFieldCorrectionInstance instance;
    instance.imageFolder = folder.path();
    instance.referenceColumns = {3, 7};
    instance.imageHeight = 2;
    instance.imageWidth = 10;
    instance.segQuadBreaks = {42};
    EXPECT_FALSE(RunFlatFieldCorrectionTool_autosegment(&instance, 6, {}));
    EXPECT_EQ(instance.segQuadBreaks, std::vector<int32_t>{42});
    EXPECT_TRUE(instance.quadCoeffs.empty());

    // Ten images, all below the window 159..211: no bright piece, so false
    // with every field written.
    WriteImages(folder.path(), 9, 10);
    EXPECT_FALSE(RunFlatFieldCorrectionTool_autosegment(&instance, 6, {}));
    EXPECT_EQ(instance.segCubicBreaks, std::vector<int32_t>(10, 256));
    EXPECT_EQ(instance.segQuadCoeffs.at(3).at(0), instance.quadCoeffs.at(3));

    // Thirty images fit both pieces; {7, 3} fits only 7, with the reference
    // levels still averaging both columns.
    WriteImages(folder.path(), 10, 30);
    for (std::vector<int32_t> listed : {std::vector<int32_t>{3, 7}, {7, 3}}) {
        instance.referenceColumns = listed;
        EXPECT_TRUE(RunFlatFieldCorrectionTool_autosegment(&instance, 6, {{0, 1, 2, 3}}));
        for (int c = 0; c < 10; ++c) {
            const bool fitted = c == 7 || (c == 3 && listed[0] == 3);
            EXPECT_EQ(instance.segQuadBreaks[c] >= 161 && instance.segQuadBreaks[c] <= 208, fitted) << c;
            EXPECT_NEAR(instance.quadCoeffs[c][0], fitted ? 5.0f - c : 0.0f, 1e-2f);
            EXPECT_NEAR(instance.quadCoeffs[c][1], fitted ? 1.0f : 0.0f, 1e-4f);
            if (!fitted) EXPECT_EQ(instance.segCubicCoeffs[c][0], std::vector<float>(4, 0.0f));
        }
        std::vector<std::vector<std::vector<float>>> pieces;
        GetFlatFieldCorrectionPolyval_Seg_2(&instance, &pieces, nullptr);
        EXPECT_EQ(pieces, instance.segQuadCoeffs);
    }
}

}  // namespace
}  // namespace ffc
