#include "report_command.h"

#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>

#include "calibration_facts.h"
#include "images.h"
#include "output_file.h"
#include "platform.h"
#include "report.h"
#include "simulate_command.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

void CheckArguments(const ReportCommand& command) {
    if (fs::path(command.outPath).extension() != ".png") {
        FailUsage("--out: the picture is a PNG file, name it *.png");
    }
    if (command.folder.empty() == command.calibrationFile.empty()) {
        FailUsage("name either the calibration folder or a calibration file (--calibration)");
    }
    if (command.folder.empty() && command.heldOutFolder.empty()) {
        FailUsage("with --calibration, name the flat images to measure with --heldout");
    }
}

// The flat images measured: the named folder, else the held-out folder
// beside the calibration images when it holds any; empty for those images.
std::string FlatImageFolder(const ReportCommand& command) {
    if (!command.heldOutFolder.empty()) return command.heldOutFolder;
    if (!ListBitmaps(HeldOutFolder(command.folder), false).empty()) return HeldOutFolder(command.folder);
    return "";
}

// The dark image of the sensor figures: named, or found beside the flats.
std::string DarkImagePath(const std::string& named, const std::string& flatFolder) {
    if (!named.empty()) return named;
    if (flatFolder.empty()) return "";
    const fs::path beside = fs::path(flatFolder) / kDarkImageName;
    std::error_code error;
    return fs::is_regular_file(beside, error) ? beside.string() : "";
}

void CheckOutputNames(const ReportCommand& command, const std::string& source, const std::string& darkPath) {
    std::vector<NamedFile> outputs = {{"--out", command.outPath}};
    if (!command.csvPath.empty()) outputs.push_back({"--csv", command.csvPath});
    std::vector<NamedFile> inputs = {{"the calibration file", command.calibrationFile}, {"--dark", darkPath}};
    AddCalibrationImages(command.folder, inputs);
    if (!source.empty()) {
        for (const std::string& path : ListBitmaps(source)) inputs.push_back({"the flat image", path});
    }
    CheckOutputs(outputs, inputs);
}

// Without a folder of flat images the calibration images are measured; the
// files the calibration could not use are passed over, as it did.
std::vector<FlatImage> LoadCalibrationImages(const std::string& folder, const vyrffc::Results& r) {
    std::vector<FlatImage> flats;
    for (const std::string& path : ListBitmaps(folder)) {
        try {
            FlatImage flat = std::move(LoadFlatImages({path}, r.imageWidth).front());
            if (flat.raw.rows == r.imageHeight) flats.push_back(std::move(flat));
        } catch (const ToolError&) {
        }
    }
    return flats;
}

std::vector<FlatImage> LoadMeasuredImages(std::ostream& text, const ReportCommand& command, const std::string& source,
                                          const vyrffc::Results& r) {
    if (source.empty()) {
        text << "No held-out images: measuring the calibration images themselves\n";
        return LoadCalibrationImages(command.folder, r);
    }
    if (!fs::is_directory(source)) FailRun("the folder " + source + " does not exist");
    const std::vector<std::string> paths = ListBitmaps(source, false);
    if (paths.empty()) FailRun("no flat image matches \"" + (fs::path(source) / "*.bmp").string() + "\"");
    text << "Held-out images: " << source << "\n";
    return LoadFlatImages(paths, r.imageWidth);
}

std::string ReportFooter(const Calibration& calibration, int32_t mode) {
    const vyrffc::Results& r = calibration.results();
    return std::string("run ") + RunName(r.run) + ", mode " + ModeName(mode) + ", " +
           std::to_string(r.significantDigits) + " significant digits, calibration " + calibration.source +
           "; drawn " + UtcNow() + " by cisffc, library " + vyrffc::LibraryVersion();
}

}  // namespace

void AddReportOptions(CLI::App& command, ReportCommand& options) {
    command.add_option("DIR", options.folder, "Calibration folder");
    command.add_option("--out", options.outPath, "Picture to write (.png)")->required();
    command.add_option("--heldout", options.heldOutFolder,
                       "Folder of flat images (*.bmp) to measure; default: DIR/heldout/ if it holds images, "
                       "else the calibration images");
    command.add_option("--dark", options.darkImage,
                       "Image taken without light, for PRNU and DSNU; default: dark.bmp beside the flat images");
    command.add_option("--csv", options.csvPath, "Write the table of figures per image (- for standard output)");
    AddCalibrationFile(command, options.calibrationFile, AddCalibrationOptions(command, options.calibration));
    AddModeOptions(command, options.mode, options.test);
}

int RunReport(const ReportCommand& command) {
    CheckArguments(command);
    // With the table on standard output the rest goes out of its way.
    std::ostream& text = command.csvPath == "-" ? ToolErrors() : std::cout;
    const std::string source = FlatImageFolder(command);
    const std::string darkPath = DarkImagePath(command.darkImage, source);
    CheckOutputNames(command, source, darkPath);
    const AppliedCalibration applied =
        ObtainCalibration(command.calibrationFile, command.folder, command.calibration, command.mode, command.test);
    const Calibration& calibration = applied.calibration;
    const int32_t mode = applied.mode;
    FailIfIncomplete(calibration);

    const vyrffc::Results& r = calibration.results();
    const std::vector<FlatImage> flats = LoadMeasuredImages(text, command, source, r);
    std::vector<FlatImage> dark;
    if (!darkPath.empty()) dark = LoadFlatImages({darkPath}, r.imageWidth);
    const CorrectionOutcome outcome =
        EvaluateCorrection(calibration, applied.test, mode, flats, dark.empty() ? nullptr : &dark.front());
    const std::string darkName = dark.empty() ? "" : dark.front().name;
    text << "Camera: " << CameraText(r.camera) << "\n";
    PrintLevelTable(text, flats, outcome);
    PrintOutputLevel(text, calibration, applied.test, mode);
    PrintSensorFigures(text, flats, outcome, darkName);
    const cv::Mat figure = DrawReport("Flat-field calibration report: " + outcome.label + ", " + calibration.source,
                                      flats, {outcome}, 0, ReportFooter(calibration, mode));
    WritePictureAtomically(command.outPath, figure);
    text << "Picture: " << command.outPath << "\n";
    if (!command.csvPath.empty()) {
        WriteFileAtomically(command.csvPath, LevelTableCsv(flats, outcome, darkName));
        if (command.csvPath != "-") text << "Table: " << command.csvPath << "\n";
    }
    // The figures of the images that could be corrected are shown; the
    // command still fails, so that no script takes a partial report for a
    // whole one.
    if (!outcome.failure.empty()) FailRun("not every image could be corrected: " + outcome.failure);
    return kExitSuccess;
}

}  // namespace cisffc
