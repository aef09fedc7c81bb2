#include "check_command.h"

#include <cmath>
#include <cstring>
#include <iostream>

#include <CLI/CLI.hpp>

#include "calibration_options.h"
#include "camera/camera.h"
#include "camera/exposure_plan.h"
#include "calibration_facts.h"
#include "capture_command.h"
#include "images.h"
#include "report.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace {

// The camera a calibration was made for against the one connected, by
// serial number: one that names another is refused; one that names none
// (made before calibrations kept their camera) is taken with a note.
void CompareCamera(const Calibration& calibration, const CameraIdentity& camera) {
    const vyrffc::CameraIdentity& named = calibration.results().camera;
    if (named.serial.empty()) {
        std::cout << "Identity     the calibration names no camera serial; " << camera.serial << " not compared\n";
        return;
    }
    RequireCameraOf(calibration, "", camera.serial);
    std::cout << "Identity     serial " << camera.serial << ", as the calibration names\n";
}

// The frames one under another: one image whose rows are all exposures of
// the same line, which is how the figures take them.
cv::Mat Stacked(const std::vector<cv::Mat>& frames) {
    cv::Mat stacked(frames.front().rows * static_cast<int>(frames.size()), frames.front().cols, CV_8UC1);
    int row = 0;
    for (const cv::Mat& frame : frames) {
        for (int r = 0; r < frame.rows; ++r, ++row) std::memcpy(stacked.ptr(row), frame.ptr(r), frame.cols);
    }
    return stacked;
}

cv::Mat BlackLine(const cv::Mat& like) { return cv::Mat(like.rows, like.cols, CV_8UC1, cv::Scalar(0)); }

// The spatial spread of the column means, less the temporal noise, over their
// mean: PRNU against a dark line of 0, which is what a corrected dark line is;
// on the columns the calibration's own residual was measured on.
vyrffc::Figure NonUniformity(const cv::Mat& image, const std::vector<int32_t>& columns) {
    return vyrffc::MeasureSensorFigures(image, BlackLine(image), columns).prnu;
}

// One figure with its limit, and what the calibration left on its own images
// at this level (`atCalibration`, NaN: not known); false when the limit is
// exceeded or the figure cannot be measured against it.
bool Within(const std::string& label, const vyrffc::Figure& figure, double limit,
            double atCalibration = std::nan("")) {
    std::cout << label << vyrffc::FormatFigure(figure, true);
    if (std::isnan(figure.value) && !figure.why.empty()) std::cout << " (" << figure.why << ")";
    if (!std::isnan(atCalibration)) {
        std::cout << " (" << vyrffc::FormatFigure({atCalibration}, true) << " at calibration)";
    }
    if (std::isnan(limit)) {
        std::cout << "\n";
        return true;
    }
    const bool within = figure.value <= limit;  // false for NaN
    vyrffc::Figure shown;
    shown.value = limit;
    std::cout << ", limit " << vyrffc::FormatFigure(shown, true) << ": " << (within ? "pass" : "FAIL") << "\n";
    return within;
}

}  // namespace

void AddCheckOptions(CLI::App& command, CheckCommand& options) {
    AddCameraOptions(command, options.camera, options.settle, options.timeoutMs);
    command.add_option("--calibration", options.calibrationPath, "The camera's calibration file")->required();
    AddModeOptions(command, options.mode, options.test);
    command.add_option("--exposure", options.exposure, "Exposure in microseconds; 0: as the camera is set")
        ->capture_default_str()->check(CLI::Range(0.0, 1e8));
    command.add_option("--frames", options.frames, "Frames measured, their rows taken together")
        ->capture_default_str()->check(CLI::Range(1, 1000));
    command.add_option("--dark", options.darkPath,
                       "A dark image of the camera (capture's dark.bmp) for PRNU; left out: a dark line of 0");
    command.add_option("--max-nu", options.maxNonUniformity,
                       "Highest corrected non-uniformity that passes, e.g. 0.5%; above it: exit status 3");
    command.add_option("--max-prnu", options.maxPrnu, "Highest corrected PRNU that passes, e.g. 1%");
}

int RunCheck(const CheckCommand& command) {
    AcceptanceLimits limits;
    if (!command.maxNonUniformity.empty()) {
        limits.maxNonUniformity = ParsePercentLimit(command.maxNonUniformity, "--max-nu");
    }
    if (!command.maxPrnu.empty()) limits.maxPrnu = ParsePercentLimit(command.maxPrnu, "--max-prnu");
    const AppliedCalibration applied =
        ObtainCalibration(command.calibrationPath, "", CalibrationOptions{}, command.mode, command.test);
    const Calibration& calibration = applied.calibration;
    const vyrffc::Results& r = calibration.results();
    const cv::Mat rawDark = command.darkPath.empty() ? cv::Mat() : ReadCorrectable(command.darkPath, r.imageWidth);

    std::unique_ptr<Camera> camera = Camera::Open(command.camera);
    const CameraIdentity identity = camera->Identity();
    std::cout << "Camera       " << identity.vendor << " " << identity.model << ", serial " << identity.serial
              << "\n";
    CompareCamera(calibration, identity);
    camera->SetRegion(r.imageWidth, r.imageHeight);
    const double exposure = command.exposure > 0.0 ? camera->SetExposure(command.exposure) : camera->Exposure();

    std::vector<cv::Mat> raw;
    std::vector<cv::Mat> corrected(command.frames);
    for (int i = 0; i < command.frames; ++i) {
        raw.push_back(AverageFrames(camera->GrabSum(1, i == 0 ? command.settle : 0, command.timeoutMs), 1));
        CorrectImage(calibration, applied.test, applied.mode, raw.back(), corrected[i],
                     "frame " + std::to_string(i + 1));
    }
    const cv::Mat rawLine = Stacked(raw);
    const cv::Mat correctedLine = Stacked(corrected);
    // The level as the calibration set's levels are taken.
    const double level = vyrffc::MeasureReference(r, rawLine).mean;
    std::cout << "Frames       " << command.frames << " of " << r.imageWidth << "x" << r.imageHeight << " at "
              << exposure << " us, raw gray " << level << " at the reference columns, corrected in mode "
              << applied.mode << " (" << vyrffc::ModeName(applied.mode) << ") to gray "
              << vyrffc::MeasureLine(correctedLine).mean << "\n";
    const GrayRange range = FittingRange(r);
    if (!(level > range.low && level < range.high)) {
        std::cout << "Note         gray " << level << " lies outside the calibration's fitting range " << range.low
                  << ".." << range.high << ": set an exposure that brings the target inside it\n";
    }
    // The set's residuals were taken in the default mode of the calibration's
    // own rule: another mode or rule has none to compare with.
    const vyrffc::Generation rule = calibration.library.generation();
    const int keptMode = vyrffc::DefaultMode(r.run, rule);
    const bool comparable = applied.mode == keptMode && applied.test == rule;
    const double atCalibration = comparable ? vyrffc::SetResidualAt(r, level) : std::nan("");
    if (!comparable && !r.setResiduals.empty()) {
        std::cout << "Note         the calibration's own residuals are of mode " << keptMode << " ("
                  << vyrffc::ModeName(keptMode) << ") with its own rule; not compared\n";
    } else if (std::isnan(atCalibration)) {
        std::cout << "Note         the calibration keeps no residual of its own images at gray " << level
                  << " to compare with\n";
    }
    const std::vector<int32_t> columns = vyrffc::ResidualColumns(r);
    std::cout << "Raw          non-uniformity " << vyrffc::FormatFigure(NonUniformity(rawLine, columns), true) << "\n";
    bool pass = Within("Corrected    non-uniformity ", NonUniformity(correctedLine, columns), limits.maxNonUniformity,
                       atCalibration);
    const bool withDark = !command.darkPath.empty();
    if (withDark || !std::isnan(limits.maxPrnu)) {
        cv::Mat correctedDark = BlackLine(correctedLine);
        if (withDark) CorrectImage(calibration, applied.test, applied.mode, rawDark, correctedDark, command.darkPath);
        const vyrffc::Figure prnu = vyrffc::MeasureSensorFigures(correctedLine, correctedDark, columns).prnu;
        pass = Within(withDark ? "Corrected    PRNU " : "Corrected    PRNU (dark 0) ", prnu, limits.maxPrnu) && pass;
    }
    if (pass) return kExitSuccess;
    std::cout << "Verdict      recalibrate: the corrected line is out of its limits (light, optics or sensor have "
                 "drifted since the calibration)\n";
    return kExitRejected;
}

}  // namespace cisffc
