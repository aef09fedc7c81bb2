// The tool's view of a calibration: the library's calibration object, where
// it came from, and the notes the run left.
#ifndef CISFFC_CALIBRATION_H
#define CISFFC_CALIBRATION_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "VyrCISFlatfieldCorrection.hpp"

namespace cisffc {

using RunKind = vyrffc::CalibrationRun;
using TestFunction = vyrffc::Generation;

using vyrffc::RunName;

struct Calibration {
    vyrffc::Calibration library;
    std::string source;                 // the folder or calibration file it came from
    std::vector<std::string> warnings;  // files the run skipped, and why
    double seconds = 0.0;               // time the run took (0 for a loaded file)

    const vyrffc::Results& results() const { return library.results(); }
};

// Calibrates from the folder's images; a failure ends the command with the
// library's own sentence for it.
Calibration CalibrateFromFolder(const std::string& folder, const vyrffc::Settings& settings);

// Reads a calibration file written by `calibrate --save`.
Calibration LoadCalibration(const std::string& path);

// Corrects one image with the given generation's rule on `threads` threads
// (0: one per core) into `corrected`, reused when it has the image's size;
// errors end the command naming the image.
void CorrectImage(const Calibration& calibration, TestFunction test, int32_t mode, const cv::Mat& raw,
                  cv::Mat& corrected, const std::string& imageName, int threads = 0);

}  // namespace cisffc

#endif  // CISFFC_CALIBRATION_H
