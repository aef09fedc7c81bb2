// The calibration image set: the images of the instance's folder that have the
// configured size, and the column profile (mean of every column) of an image.
#ifndef VYR_FFC_IMAGE_SET_H
#define VYR_FFC_IMAGE_SET_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

struct FlatFieldCorrectionInstance;

namespace ffc {

// The kept images, 8-bit single channel, in the order the folder listing gives.
struct CalibrationImageSet {
    std::vector<cv::Mat> images;
};

// The files a run reads: the folder string followed by "*.bmp", nothing
// inserted between them, listed non-recursively.
std::vector<std::string> ListCalibrationFiles(const std::string& imageFolder);

// Reads one file as 8-bit gray; returns it when it has exactly the expected
// rows and columns, an empty image otherwise (unreadable files included).
cv::Mat ReadCalibrationImage(const std::string& path, int32_t imageHeight, int32_t imageWidth);

// Every listed file that reads as an image of the instance's size.
CalibrationImageSet LoadCalibrationImages(const FlatFieldCorrectionInstance& instance);

// The mean over all rows of each of the first `imageWidth` columns, in single
// precision, exactly as averaging the image converted to float with OpenCV.
std::vector<float> ColumnProfile(const cv::Mat& image, int32_t imageWidth);

// The column profile of every image LoadCalibrationImages would keep, in the
// same order. Each image is released as soon as it is profiled, so memory
// grows with the number of images times the width, not the height.
std::vector<std::vector<float>> LoadCalibrationProfiles(const FlatFieldCorrectionInstance& instance);

}  // namespace ffc

#endif  // VYR_FFC_IMAGE_SET_H
