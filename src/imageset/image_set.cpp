#include "imageset/image_set.h"

#include "instance/instance.h"

#include <algorithm>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/filesystem.hpp>
#include <opencv2/imgcodecs.hpp>

namespace ffc {

namespace {

// The folder that the listing of `pattern` opens: everything before the last
// separator, or the current directory when there is none.
std::string ListedFolder(const std::string& pattern) {
#ifdef _WIN32
    const size_t separator = pattern.find_last_of("/\\");
#else
    const size_t separator = pattern.find_last_of('/');
#endif
    if (separator == std::string::npos) return ".";
    return pattern.substr(0, separator);
}

}  // namespace

std::vector<std::string> ListCalibrationFiles(const std::string& imageFolder) {
    const std::string pattern = imageFolder + "*.bmp";
    // A folder that is missing (or was removed after the parameters were set)
    // holds no images; the listing itself would raise an error for it.
    if (!cv::utils::fs::isDirectory(ListedFolder(pattern))) return {};
    std::vector<cv::String> files;
    cv::glob(pattern, files, false);
    return std::vector<std::string>(files.begin(), files.end());
}

cv::Mat ReadCalibrationImage(const std::string& path, int32_t imageHeight, int32_t imageWidth) {
    cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (image.cols != imageWidth || image.rows != imageHeight) return cv::Mat();
    return image;
}

std::vector<float> ColumnProfileByReduction(const cv::Mat& image, int32_t imageWidth) {
    cv::Mat asFloat;
    image.convertTo(asFloat, CV_32F, 1.0, 0.0);
    cv::Mat mean;
    cv::reduce(asFloat, mean, 0, cv::REDUCE_AVG, -1);
    const float* row = mean.ptr<float>(0);
    return std::vector<float>(row, row + imageWidth);
}

std::vector<float> ColumnProfile(const cv::Mat& image, int32_t imageWidth) {
    // Sums stay exact in float while rows * 255 < 2^24.
    constexpr int kMaxExactRows = 65793;
    if (image.type() != CV_8UC1 || image.rows < 1 || image.rows > kMaxExactRows || imageWidth > image.cols) {
        return ColumnProfileByReduction(image, imageWidth);
    }
    // Rows are summed in blocks whose sums fit 16 bits (256 * 255 < 2^16),
    // two rows per pass: the additions run twice as wide as 32-bit sums and
    // the block's sums stay in the first-level cache. Integer sums are exact,
    // so the order does not matter.
    constexpr int kRowsPerBlock = 256;
    const int cols = image.cols;
    std::vector<uint32_t> sums(cols, 0u);
    std::vector<uint16_t> block(cols);
    for (int first = 0; first < image.rows; first += kRowsPerBlock) {
        const int end = std::min(image.rows, first + kRowsPerBlock);
        std::fill(block.begin(), block.end(), uint16_t{0});
        uint16_t* blockSums = block.data();
        int r = first;
        for (; r + 1 < end; r += 2) {
            const uint8_t* upper = image.ptr<uint8_t>(r);
            const uint8_t* lower = image.ptr<uint8_t>(r + 1);
            for (int c = 0; c < cols; ++c) {
                blockSums[c] = static_cast<uint16_t>(blockSums[c] + (upper[c] + lower[c]));
            }
        }
        if (r < end) {
            const uint8_t* row = image.ptr<uint8_t>(r);
            for (int c = 0; c < cols; ++c) blockSums[c] = static_cast<uint16_t>(blockSums[c] + row[c]);
        }
        for (int c = 0; c < cols; ++c) sums[c] += blockSums[c];
    }
    const float reciprocal = static_cast<float>(1.0 / image.rows);
    std::vector<float> profile(imageWidth);
    for (int32_t c = 0; c < imageWidth; ++c) profile[c] = static_cast<float>(sums[c]) * reciprocal;
    return profile;
}

std::vector<std::vector<float>> LoadCalibrationProfiles(const FlatFieldCorrectionInstance& instance) {
    std::vector<std::vector<float>> profiles;
    for (const std::string& path : ListCalibrationFiles(instance.imageFolder)) {
        cv::Mat image = ReadCalibrationImage(path, instance.imageHeight, instance.imageWidth);
        if (!image.empty()) profiles.push_back(ColumnProfile(image, instance.imageWidth));
    }
    return profiles;
}

}  // namespace ffc
