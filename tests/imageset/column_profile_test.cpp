#include "imageset/image_set.h"

#include <random>

#include <gtest/gtest.h>

namespace ffc {
namespace {

// The fast profile must equal OpenCV's float reduction bit for bit, for any
// height and any pixel values, including the extremes 0 and 255.
TEST(ColumnProfile, FastPathEqualsReductionOnRandomImages) {
    std::mt19937 generator(7);
    for (int rows = 1; rows <= 300; rows += (rows < 32 ? 1 : 13)) {
        cv::Mat image(rows, 131, CV_8UC1);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < image.cols; ++c) {
                const uint32_t bits = generator();
                image.at<uint8_t>(r, c) = c % 4 == 0 ? 255 : c % 4 == 1 ? bits & 7 : bits & 255;
            }
        }
        const std::vector<float> fast = ColumnProfile(image, 129);
        const std::vector<float> plain = ColumnProfileByReduction(image, 129);
        ASSERT_EQ(fast.size(), 129u);
        for (size_t c = 0; c < fast.size(); ++c) {
            ASSERT_EQ(fast[c], plain[c]) << "rows " << rows << " column " << c;
        }
    }
}

// Rows are summed in 16-bit blocks of 256; all-255 columns are the largest
// sums, at and around the block boundaries.
TEST(ColumnProfile, SaturatedRowsAcrossSummingBlocksEqualReduction) {
    for (int rows : {255, 256, 257, 511, 512, 513, 1000}) {
        cv::Mat image(rows, 40, CV_8UC1, cv::Scalar(255));
        image.col(3).setTo(0);
        image.row(rows - 1).setTo(254);
        const std::vector<float> fast = ColumnProfile(image, 40);
        const std::vector<float> plain = ColumnProfileByReduction(image, 40);
        for (size_t c = 0; c < fast.size(); ++c) ASSERT_EQ(fast[c], plain[c]) << "rows " << rows << " column " << c;
    }
}

}  // namespace
}  // namespace ffc

namespace ffc {
namespace {

// A folder removed after the parameters were set lists no files instead of
// raising the listing's error, so the runs answer false.
TEST(ListCalibrationFiles, MissingFolderListsNothing) {
    EXPECT_TRUE(ListCalibrationFiles("/nonexistent-ffc-folder/").empty());
    EXPECT_TRUE(ListCalibrationFiles("/nonexistent-ffc-folder/prefix").empty());
}

}  // namespace
}  // namespace ffc
