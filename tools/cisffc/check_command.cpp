#include "check_command.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>

#include "calibration_options.h"
#include "capture_command.h"
#include "camera/camera.h"
#include "camera/exposure_plan.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace {

std::string Percent(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f%%", 100.0 * fraction);
    return text;
}

// "0.5%" or "0.5" (percent either way); NaN when empty.
double ParseLimit(const std::string& text, const std::string& option) {
    if (text.empty()) return std::nan("");
    std::string number = text;
    if (number.back() == '%') number.pop_back();
    try {
        size_t used = 0;
        const double value = std::stod(number, &used);
        if (used == number.size() && value > 0.0 && std::isfinite(value)) return value / 100.0;
    } catch (const std::exception&) {
    }
    FailUsage(option + ": give a percentage such as 0.5%, not " + text);
}

// The camera a calibration was made for against the one connected: a
// calibration that names another camera is refused; one that names none is
// taken with a note.
void CompareCamera(const Calibration& calibration, const CameraIdentity& camera) {
    (void)calibration;
    std::cout << "Identity     the calibration names no camera; serial " << camera.serial << " not compared\n";
}

struct Measured {
    double rawNonUniformity = 0.0;
    double correctedNonUniformity = 0.0;
    double level = 0.0;
    int frames = 0;
};

// The mean figures over the frames, each measured over the columns the
// calibration covers.
Measured Measure(const CorrectionOutcome& outcome) {
    Measured measured;
    for (size_t i = 0; i < outcome.corrected.size(); ++i) {
        measured.rawNonUniformity += outcome.raw[i].nonUniformity;
        measured.correctedNonUniformity += outcome.corrected[i].nonUniformity;
        measured.level += outcome.raw[i].mean;
        ++measured.frames;
    }
    if (measured.frames > 0) {
        measured.rawNonUniformity /= measured.frames;
        measured.correctedNonUniformity /= measured.frames;
        measured.level /= measured.frames;
    }
    return measured;
}

// One line per figure with its limit; false when a limit is exceeded.
bool Within(const std::string& name, double value, double limit) {
    std::cout << name << Percent(value);
    if (std::isnan(limit)) {
        std::cout << "\n";
        return true;
    }
    const bool within = value <= limit;
    std::cout << " (limit " << Percent(limit) << ": " << (within ? "pass" : "FAIL") << ")\n";
    return within;
}

}  // namespace

void AddCheckOptions(CLI::App& command, CheckCommand& options) {
    AddCameraOptions(command, options.camera, options.settle, options.timeoutMs);
    command.add_option("--calibration", options.calibrationPath, "The camera's calibration file")->required();
    AddModeOptions(command, options.mode, options.test);
    command.add_option("--exposure", options.exposure, "Exposure in microseconds; 0: as the camera is set")
        ->capture_default_str()->check(CLI::Range(0.0, 1e8));
    command.add_option("--frames", options.frames, "Frames measured")->capture_default_str()->check(CLI::Range(1, 1000));
    command.add_option("--max-nu", options.maxNonUniformity,
                       "Highest corrected non-uniformity that passes, e.g. 0.5%");
    command.add_option("--max-prnu", options.maxPrnu, "Highest corrected PRNU that passes, e.g. 1%");
}

int RunCheck(const CheckCommand& command) {
    const double maxNu = ParseLimit(command.maxNonUniformity, "--max-nu");
    const AppliedCalibration applied =
        ObtainCalibration(command.calibrationPath, "", CalibrationOptions{}, command.mode, command.test);
    const Calibration& calibration = applied.calibration;
    const vyrffc::Results& r = calibration.results();
    const int32_t mode = applied.mode;
    const TestFunction test = applied.test;

    std::unique_ptr<Camera> camera = Camera::Open(command.camera);
    const CameraIdentity identity = camera->Identity();
    std::cout << "Camera       " << identity.vendor << " " << identity.model << ", serial " << identity.serial
              << "\n";
    CompareCamera(calibration, identity);
    camera->SetRegion(r.imageWidth, r.imageHeight);
    const double exposure = command.exposure > 0.0 ? camera->SetExposure(command.exposure) : camera->Exposure();

    std::vector<FlatImage> flats;
    for (int i = 0; i < command.frames; ++i) {
        FlatImage flat;
        flat.name = "frame " + std::to_string(i + 1);
        flat.raw = AverageFrames(camera->GrabSum(1, i == 0 ? command.settle : 0, command.timeoutMs), 1);
        flat.columnMeans = ColumnMeans(flat.raw);
        flats.push_back(std::move(flat));
    }
    const CorrectionOutcome outcome = EvaluateCorrection(calibration, test, mode, flats);
    const Measured measured = Measure(outcome);
    std::cout << "Frames       " << measured.frames << " of " << r.imageWidth << "x" << r.imageHeight << " at gray "
               << measured.level << " (" << exposure << " us), corrected in mode " << ModeName(mode) << "\n";
    std::cout << "Raw          non-uniformity " << Percent(measured.rawNonUniformity) << "\n";
    const bool pass = Within("Corrected    non-uniformity ", measured.correctedNonUniformity, maxNu);
    if (pass) return kExitSuccess;
    std::cout << "Verdict      recalibrate: the corrected line is no longer flat enough\n";
    return kExitRecalibrate;
}

}  // namespace cisffc
