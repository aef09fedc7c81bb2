// Image files as a careless or hostile user hands them over, made small:
// headers that claim sizes their files do not hold.
#ifndef FFC_TEST_IMAGE_FILES_H
#define FFC_TEST_IMAGE_FILES_H

#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace ffc::testing {

// `image` encoded as `extension` (".bmp", ".png"), its header then made to
// claim `rows` x `cols` (0 x 0: left as encoded).
std::vector<uchar> EncodedClaiming(const std::string& extension, const cv::Mat& image, int rows = 0, int cols = 0);

void WriteBytes(const std::string& path, const std::vector<uchar>& bytes);

}  // namespace ffc::testing

#endif  // FFC_TEST_IMAGE_FILES_H
