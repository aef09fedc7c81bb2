// The calibration image set: the images of the instance's folder that have the
// configured size, and the column profile (mean of every column) of an image.
#ifndef VYR_FFC_IMAGE_SET_H
#define VYR_FFC_IMAGE_SET_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "imageset/image_file.h"

struct FlatFieldCorrectionInstance;

namespace ffc {

// The files a run reads: the folder string followed by "*.bmp", nothing
// inserted between them, listed non-recursively.
std::vector<std::string> ListCalibrationFiles(const std::string& imageFolder);

// Reads one file as 8-bit gray with the image library and nothing else;
// returns it when it has exactly the expected rows and columns, an empty
// image otherwise (unreadable files and files that are not regular included).
cv::Mat ReadCalibrationImage(const std::string& path, int32_t imageHeight, int32_t imageWidth);

// The mean over all rows of each of the first `imageWidth` columns, in single
// precision: the image converted to float, then averaged down the rows with
// OpenCV. The plain rule, kept beside the fast ColumnProfile.
std::vector<float> ColumnProfileByReduction(const cv::Mat& image, int32_t imageWidth);

// The same values as ColumnProfileByReduction, bit for bit, at a fraction of
// the cost: the column sums of 8-bit values are exact integers (in float too,
// up to 65,793 rows), and the averaging multiplies each sum by the float
// reciprocal of the row count, as the reduction does. Taller images take the
// plain rule.
std::vector<float> ColumnProfile(const cv::Mat& image, int32_t imageWidth);

// One calibration image file: why it cannot be used, or its size and the
// profile of all of its columns.
struct CalibrationFile {
    ImageFileStatus status = ImageFileStatus::kRead;
    int32_t rows = 0;  // known for kRead and kOtherSize
    int32_t cols = 0;
    std::vector<float> profile;
};

// Reads `path` as a calibration image of `imageHeight` x `imageWidth` (0 x 0:
// any size). The profile is ColumnProfile(ReadCalibrationImage(...)) bit for
// bit, but the file is checked first: only a regular file is opened, and a
// header beyond the reader's limits, a file shorter than its header says or
// a BMP of another size is refused before any pixel is read. An uncompressed
// 8-bit BMP with the gray ramp palette, the form calibration images are saved
// in, is averaged straight from its pixel rows, read into `buffer`: decoding
// it into an image was most of the cost of a run's start. Any other file is
// decoded by the image library.
CalibrationFile ReadCalibrationFile(const std::string& path, int32_t imageHeight, int32_t imageWidth,
                                    std::vector<uint8_t>& buffer);

// The profile of ReadCalibrationFile, or nothing when the file cannot be used.
std::optional<std::vector<float>> ProfileOfFile(const std::string& path, int32_t imageHeight, int32_t imageWidth,
                                                std::vector<uint8_t>& buffer);

// The column profile of every listed file that reads as an image of the
// instance's size, in the order the listing gives. Each image is released as soon as it is profiled, so memory
// grows with the number of images times the width, not the height.
std::vector<std::vector<float>> LoadCalibrationProfiles(const FlatFieldCorrectionInstance& instance);

}  // namespace ffc

#endif  // VYR_FFC_IMAGE_SET_H
