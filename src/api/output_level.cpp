// The output level of a raw level of the reference columns: found by
// correcting a line at the whole levels either side, so that it is what the
// correction itself writes, rule, gain, clamping and rounding included.
#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc {

namespace {

// The mean of the row's values at the columns.
double MeanAt(const cv::Mat& image, int row, const std::vector<int32_t>& columns) {
    const uint8_t* values = image.ptr<uint8_t>(row);
    double sum = 0.0;
    for (int32_t column : columns) sum += values[column];
    return sum / static_cast<double>(columns.size());
}

}  // namespace

double OutputLevel(const Calibration& calibration, double rawReferenceLevel, int mode, Generation generation) {
    if (!(rawReferenceLevel >= 0.0 && rawReferenceLevel <= 255.0)) {
        throw Error(ErrorReason::kInvalidSettings,
                    "the raw level " + std::to_string(rawReferenceLevel) + " is not a gray level from 0 to 255");
    }
    const Results& results = calibration.results();
    const double below = std::floor(rawReferenceLevel);
    const double above = std::ceil(rawReferenceLevel);
    // Every column at the level, as a flat line would be; one thread, since
    // two lines are no work worth more.
    cv::Mat lines(2, results.imageWidth, CV_8UC1);
    std::fill_n(lines.ptr<uint8_t>(0), lines.cols, static_cast<uint8_t>(below));
    std::fill_n(lines.ptr<uint8_t>(1), lines.cols, static_cast<uint8_t>(above));
    cv::Mat corrected;
    calibration.Correct(lines, corrected, mode, generation, 1);
    const double low = MeanAt(corrected, 0, results.referenceColumns);
    const double high = MeanAt(corrected, 1, results.referenceColumns);
    return low + (high - low) * (rawReferenceLevel - below);
}

}  // namespace vyrffc
