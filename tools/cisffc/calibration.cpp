#include "calibration.h"

#include <chrono>

#include "tool_error.h"

namespace cisffc {

Calibration CalibrateFromFolder(const std::string& folder, const vyrffc::Settings& settings) {
    std::vector<std::string> warnings;
    const auto start = std::chrono::steady_clock::now();
    try {
        Calibration calibration{vyrffc::CalibrateFolder(folder, settings, &warnings), folder, {}, 0.0};
        calibration.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        calibration.warnings = std::move(warnings);
        return calibration;
    } catch (const vyrffc::Error& error) {
        FailRun(error.what());
    }
}

Calibration LoadCalibration(const std::string& path) {
    try {
        return Calibration{vyrffc::Calibration::Load(path), path, {}, 0.0};
    } catch (const vyrffc::Error& error) {
        FailRun(error.what());
    }
}

void CorrectImage(const Calibration& calibration, TestFunction test, int32_t mode, const cv::Mat& raw,
                  cv::Mat& corrected, const std::string& imageName, int threads) {
    try {
        calibration.library.Correct(raw, corrected, mode, test, threads);
    } catch (const vyrffc::Error& error) {
        FailRun(imageName + ": " + error.what());
    }
}

}  // namespace cisffc
