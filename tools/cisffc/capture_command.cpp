#include "capture_command.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "calibrate_command.h"
#include "camera/camera.h"
#include "camera/exposure_plan.h"
#include "output_file.h"
#include "platform.h"
#include "progress.h"
#include "report.h"
#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

// With the light off the reference may read this far above the black level
// seen at the shortest exposure with the light on.
constexpr double kDarkMargin = 3.0;

std::string Fixed1(double value) { return Fixed(value, 1); }

// "level_007_1234.5us.bmp": the zero-padded index lists the names in level
// order; the exposure is there for the reader.
std::string LevelName(size_t index, size_t count, double exposure) {
    std::string number = std::to_string(index);
    const size_t digits = std::max<size_t>(3, std::to_string(count - 1).size());
    number.insert(0, digits - number.size(), '0');
    return "level_" + number + "_" + Fixed1(exposure) + "us.bmp";
}

// The folder the series goes to: new, or an empty one. The series is written
// into a hidden folder beside it and moved into place once complete; an
// interrupted capture leaves only that hidden folder, which the next capture
// into the same folder clears.
struct Target {
    fs::path folder;
    fs::path partial;
};

Target CheckedTarget(const std::string& folder) {
    fs::path target = fs::path(folder).lexically_normal();
    if (target.filename().empty()) target = target.parent_path();
    if (target.empty() || target.filename() == "." || target.filename() == ".." || target == target.root_path()) {
        FailUsage("--out: name a new folder for the captured series, not " + folder);
    }
    std::error_code error;
    if (fs::exists(target, error) && !(fs::is_directory(target, error) && fs::is_empty(target, error))) {
        FailUsage("--out: " + folder + " already exists and is not an empty folder");
    }
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(parent, error)) FailRun("cannot write " + folder + ": the folder " + parent.string() +
                                                  " does not exist");
    return {target, parent / ("." + target.filename().string() + ".capturing")};
}

void CheckDarkOptions(const CaptureCommand& command) {
    if (command.dark && !StandardInputIsTerminal()) {
        FailUsage("--dark asks the operator on a terminal; without one use --dark-unattended");
    }
}

void PrintCamera(const CameraIdentity& camera) {
    std::cout << "Camera       " << camera.vendor << " " << camera.model << ", serial " << camera.serial << " ("
              << camera.id << ")\n";
}

// Waits until a frame at `exposure` shows no more than the black level: the
// operator has switched the light off, or the line has. Ends the command when
// the light stays on past `seconds`.
void WaitForDarkness(Camera& camera, const CaptureCommand& command, const ExposurePlan& plan, double exposure,
                     int seconds) {
    camera.SetExposure(exposure);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const double level = ReferenceLevel(AverageFrames(camera.GrabSum(1, command.settle, command.timeoutMs), 1));
        if (level <= plan.blackLevel + kDarkMargin) return;
        if (std::chrono::steady_clock::now() >= end) {
            FailRun("the light did not go off for the dark image: the reference still shows gray " + Fixed1(level) +
                    (seconds > 0 ? " after " + std::to_string(seconds) + " s" : std::string()));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The dark image at the exposure halfway to saturation, where the sensor
// figures take their flat image; or a note saying why there is none.
void CaptureDark(Camera& camera, const CaptureCommand& command, const ExposurePlan& plan, const fs::path& folder) {
    if (!command.dark && !command.darkUnattended) {
        std::cout << "Dark image   not taken (--dark asks for the light to go off, --dark-unattended waits for it)\n";
        return;
    }
    const double exposure = 0.5 * plan.saturation;
    if (command.dark) {
        ToolErrors() << "Switch the light off, then press Enter.";
        ToolErrors().flush();
        std::string answer;
        std::getline(std::cin, answer);
        WaitForDarkness(camera, command, plan, exposure, 0);
    } else {
        ToolErrors() << "Waiting up to " << command.darkTimeoutSeconds << " s for the light to go off\n";
        WaitForDarkness(camera, command, plan, exposure, command.darkTimeoutSeconds);
    }
    const double taken = camera.SetExposure(exposure);
    WriteImageAtomically((folder / "dark.bmp").string(),
                         AverageFrames(camera.GrabSum(command.average, command.settle, command.timeoutMs),
                                       command.average));
    std::cout << "Dark image   dark.bmp at " << Fixed1(taken) << " us\n";
}

void CaptureSeries(Camera& camera, const CaptureCommand& command, const ExposurePlan& plan, const fs::path& folder) {
    Progress progress(plan.levels.size(), true);
    std::vector<uchar> encoded;
    for (size_t k = 0; k < plan.levels.size(); ++k) {
        const double exposure = camera.SetExposure(plan.levels[k]);
        const cv::Mat image =
            AverageFrames(camera.GrabSum(command.average, command.settle, command.timeoutMs), command.average);
        WriteImageAtomically((folder / LevelName(k, plan.levels.size(), exposure)).string(), image, &encoded);
        progress.Update(k + 1);
    }
    progress.Finish();
    CaptureDark(camera, command, plan, folder);
}

void MoveIntoPlace(const Target& target, const std::string& name) {
    WithoutInterruption([&] {
        std::error_code error;
        if (fs::is_directory(target.folder, error)) fs::remove(target.folder, error);  // empty, checked before
        fs::rename(target.partial, target.folder, error);
        if (error) FailRun("cannot move the captured series into " + name + ": " + error.message());
    });
}

// calibrate on the captured folder, with the camera's model and serial and
// how the series was taken kept in the calibration.
CalibrateCommand CalibrationOfCapture(const CaptureCommand& command, const CameraIdentity& camera,
                                      const ExposurePlan& plan) {
    CalibrateCommand calibrate;
    calibrate.folder = command.folder;
    calibrate.savePath = command.savePath;
    calibrate.jsonPath = command.jsonPath;
    calibrate.strict = command.strict;
    calibrate.cameraModel = camera.model;
    calibrate.cameraSerial = camera.serial;
    calibrate.notes = {"vendor=" + camera.vendor,
                       "series=" + std::to_string(plan.levels.size()) + " levels, " + Fixed1(plan.levels.front()) +
                           " to " + Fixed1(plan.levels.back()) + " us, " + std::to_string(command.average) +
                           " acquisition(s) each"};
    calibrate.notes.insert(calibrate.notes.end(), command.notes.begin(), command.notes.end());
    return calibrate;
}

}  // namespace

void AddCameraOptions(CLI::App& command, std::string& camera, int& settle, int& timeoutMs) {
    command.add_option("CAMERA", camera, "The camera's id, serial number or address; left out: the only camera found");
    command.add_option("--settle", settle, "Frames dropped after each start of the acquisition")
        ->capture_default_str()->check(CLI::Range(0, 100));
    command.add_option("--timeout", timeoutMs, "Milliseconds to wait for a frame")
        ->capture_default_str()->check(CLI::Range(1, 600000));
}

void AddCaptureOptions(CLI::App& command, CaptureCommand& options) {
    AddCameraOptions(command, options.camera, options.settle, options.timeoutMs);
    command.add_option("--out", options.folder, "The new folder of the series")->required();
    command.add_option("--width", options.width, "Columns of the line; 0: the camera's widest")
        ->capture_default_str()->check(CLI::Range(0, 1 << 16));
    command.add_option("--lines", options.lines, "Lines per image")->capture_default_str()->check(CLI::Range(1, 4096));
    command.add_option("--levels", options.levels, "Exposure levels from black to beyond saturation")
        ->capture_default_str()->check(CLI::Range(8, 1000));
    command.add_option("--average", options.average, "Acquisitions averaged into each image")
        ->capture_default_str()->check(CLI::Range(1, 1024));
    CLI::Option* dark = command.add_flag("--dark", options.dark,
                                         "Take a dark image: ask on the terminal for the light to go off");
    command.add_flag("--dark-unattended", options.darkUnattended,
                     "Take a dark image once the light has gone off (the line switches it), without asking")
        ->excludes(dark);
    command.add_option("--dark-timeout", options.darkTimeoutSeconds,
                       "Seconds --dark-unattended waits for the light to go off")
        ->capture_default_str()->check(CLI::Range(1, 3600));
    CLI::Option* calibrate = command.add_flag("--calibrate", options.calibrate,
                                              "Calibrate from the series as calibrate does and print its summary");
    command.add_option("--save", options.savePath, "With --calibrate: write the calibration file")->needs(calibrate);
    command.add_option("--json", options.jsonPath, "With --calibrate: write every result")->needs(calibrate);
    command.add_option("--note", options.notes,
                       "With --calibrate: a note KEY=VALUE kept in the calibration beside the camera's model and "
                       "serial (repeatable)")
        ->needs(calibrate);
    command.add_flag("--strict", options.strict,
                     "With --calibrate: a warning on the captured set fails the calibration before anything is saved")
        ->needs(calibrate);
}

int RunCapture(const CaptureCommand& command) {
    CheckDarkOptions(command);
    const Target target = CheckedTarget(command.folder);
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Camera> camera = Camera::Open(command.camera);
    const CameraIdentity identity = camera->Identity();
    PrintCamera(identity);
    const int32_t width = command.width > 0 ? command.width : camera->MaxWidth();
    camera->SetRegion(width, command.lines);
    const ExposurePlan plan = PlanExposures(*camera, command.levels, command.settle, command.timeoutMs);
    std::cout << "Exposure     black at " << Fixed1(plan.shortest) << " us (gray " << Fixed1(plan.blackLevel)
              << "), saturated from " << Fixed1(plan.saturation) << " us; " << plan.levels.size() << " levels of "
              << width << "x" << command.lines << " up to " << Fixed1(plan.levels.back()) << " us\n";
    std::cout.flush();

    std::error_code error;
    fs::remove_all(target.partial, error);
    fs::create_directory(target.partial, error);
    if (error) FailRun("cannot make the folder " + target.partial.string() + ": " + error.message());
    try {
        CaptureSeries(*camera, command, plan, target.partial);
    } catch (...) {
        fs::remove_all(target.partial, error);
        throw;
    }
    MoveIntoPlace(target, command.folder);

    const FrameCounts counts = camera->Counts();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "Captured     " << plan.levels.size() << " levels into " << command.folder << " in " << Fixed1(seconds)
              << " s; frames " << counts.complete << " complete, " << counts.incomplete << " incomplete, "
              << counts.missing << " missed\n";
    if (!command.calibrate) return kExitSuccess;
    std::cout << "\n";
    std::cout.flush();
    return RunCalibrate(CalibrationOfCapture(command, identity, plan));
}

}  // namespace cisffc
