// Hand-made instances and images for the correction tests.
#ifndef FFC_TESTS_EVAL_CORRECTION_FIXTURES_H
#define FFC_TESTS_EVAL_CORRECTION_FIXTURES_H

#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "instance/instance.h"

namespace ffc::testing {

// An instance of `width` columns whose quadratic and cubic polynomials are the
// constant `value` in every column (so every regular pixel corrects to it with
// gain 1), without flags, with the identity table in every column.
inline FlatFieldCorrectionInstance ConstantInstance(int width, float value) {
    FlatFieldCorrectionInstance instance;
    instance.imageWidth = width;
    instance.quadCoeffs.assign(width, {value, 0.0f, 0.0f});
    instance.cubicCoeffs.assign(width, {value, 0.0f, 0.0f, 0.0f});
    instance.quadGain = 1.0f;
    instance.cubicGain = 1.0f;
    instance.rangeGain = 1.0f;
    std::vector<int32_t> identity(256);
    for (int p = 0; p < 256; ++p) identity[p] = p;
    instance.columnLuts.assign(width, identity);
    return instance;
}

// Marks a column dark at raw 0 with the given dark range list.
inline void FlagColumn(FlatFieldCorrectionInstance& instance, int column, std::vector<int32_t> ranges) {
    instance.columnFlags.resize(instance.imageWidth, 0);
    instance.columnDarkRanges.resize(instance.imageWidth);
    instance.columnFlags[column] = -1;
    instance.columnDarkRanges[column] = std::move(ranges);
}

inline cv::Mat RowImage(const std::vector<uint8_t>& row) {
    cv::Mat image(1, static_cast<int>(row.size()), CV_8UC1);
    for (size_t c = 0; c < row.size(); ++c) image.at<uint8_t>(0, static_cast<int>(c)) = row[c];
    return image;
}

inline std::vector<int> RowValues(const cv::Mat& image, int row = 0) {
    std::vector<int> values;
    for (int c = 0; c < image.cols; ++c) values.push_back(image.at<uint8_t>(row, c));
    return values;
}

}  // namespace ffc::testing

#endif  // FFC_TESTS_EVAL_CORRECTION_FIXTURES_H
