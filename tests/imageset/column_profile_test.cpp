#include "imageset/image_set.h"

#include <random>

#include <gtest/gtest.h>

namespace ffc {
namespace {

// The fast profile must equal OpenCV's float reduction bit for bit, for any
// height and any pixel values. Rows are summed in 16-bit blocks of 256, so
// all-255 columns, the largest sums, are also tried around the block bounds.
TEST(ColumnProfile, FastPathEqualsReductionOnRandomImages) {
    std::mt19937 generator(7);
    std::vector<int> heights = {255, 256, 257, 511, 512, 513, 1000};
    for (int rows = 1; rows <= 300; rows += (rows < 32 ? 1 : 13)) heights.push_back(rows);
    for (int rows : heights) {
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

}  // namespace
}  // namespace ffc
