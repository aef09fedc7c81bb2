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

// Every mode the calibration serves with the rule applied, each with its own
// outcome; a mode that fails on an image is shown with its reason, not fatal.
std::vector<CorrectionOutcome> CompareModes(const AppliedCalibration& applied, const std::vector<FlatImage>& flats,
                                            const FlatImage* dark) {
    std::vector<CorrectionOutcome> outcomes;
    for (int mode : applied.calibration.library.Modes(applied.test)) {
        outcomes.push_back(EvaluateCorrection(applied.calibration, applied.test, mode, flats, dark));
    }
    return outcomes;
}

size_t AppliedOutcome(const std::vector<CorrectionOutcome>& outcomes, int32_t mode) {
    for (size_t k = 0; k < outcomes.size(); ++k) {
        if (outcomes[k].mode == mode) return k;
    }
    return 0;  // not reached: the mode applied is one the calibration serves
}

AcceptanceLimits Limits(const ReportCommand& command) {
    AcceptanceLimits limits;
    if (!command.maxPrnu.empty()) limits.maxPrnu = ParsePercentLimit(command.maxPrnu, "--max-prnu");
    if (!command.maxNonUniformity.empty()) {
        limits.maxNonUniformity = ParsePercentLimit(command.maxNonUniformity, "--max-nu");
    }
    return limits;
}

// One "PASS: ..." line, or one "FAIL: ..." line per limit missed.
std::vector<std::string> AcceptanceLines(const CorrectionOutcome& outcome, const std::vector<AcceptanceCheck>& checks) {
    std::vector<std::string> passed, failed;
    for (const AcceptanceCheck& check : checks) {
        (check.passed ? passed : failed).push_back(check.text);
    }
    if (checks.empty()) return {};
    if (failed.empty()) {
        std::string line = "PASS: " + outcome.label;
        for (const std::string& text : passed) line += ", " + text;
        return {line};
    }
    std::vector<std::string> lines;
    for (const std::string& text : failed) lines.push_back("FAIL: " + outcome.label + ", " + text);
    return lines;
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
    command.add_option("--csv", options.csvPath,
                       "Write the figures as CSV (- for standard output): a table per image, a blank line, then a "
                       "table per mode compared (raw first) with NU, PRNU, DSNU and dark noise");
    command.add_option("--max-prnu", options.maxPrnu,
                       "Acceptance: the mode applied fails (exit status 3) when its corrected PRNU exceeds this, "
                       "in % (1% or 1)");
    command.add_option("--max-nu", options.maxNonUniformity,
                       "Acceptance: the mode applied fails (exit status 3) when its mean non-uniformity inside the "
                       "fitting range exceeds this, in % (0.5% or 0.5)");
    AddCalibrationFile(command, options.calibrationFile, AddCalibrationOptions(command, options.calibration));
    AddModeOptions(command, options.mode, options.test);
}

int RunReport(const ReportCommand& command) {
    CheckArguments(command);
    const AcceptanceLimits limits = Limits(command);
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
    const std::vector<CorrectionOutcome> outcomes = CompareModes(applied, flats, dark.empty() ? nullptr : &dark.front());
    const size_t appliedIndex = AppliedOutcome(outcomes, mode);
    const CorrectionOutcome& outcome = outcomes[appliedIndex];
    const std::string darkName = dark.empty() ? "" : dark.front().name;
    text << "Camera: " << CameraText(r.camera) << "\n";
    PrintLevelTable(text, flats, outcome);
    PrintOutputLevel(text, calibration, applied.test, mode);
    text << "\nEvery mode the calibration serves, on the same images:\n";
    PrintComparisonTable(text, outcomes);
    const std::string best = BestModeLine(outcomes);
    text << best << "\n\n";
    PrintSensorFigures(text, flats, outcomes, darkName);
    const std::vector<AcceptanceCheck> checks = CheckAcceptance(outcome, limits);
    const std::vector<std::string> acceptance = AcceptanceLines(outcome, checks);
    for (const std::string& line : acceptance) text << line << "\n";
    std::vector<std::string> notes = {best};
    notes.insert(notes.end(), acceptance.begin(), acceptance.end());
    const cv::Mat figure =
        DrawReport("Flat-field calibration report: " + outcome.label + ", " + calibration.source, flats, outcomes,
                   appliedIndex, ReportFooter(calibration, mode), "the mode applied", notes);
    WritePictureAtomically(command.outPath, figure);
    text << "Picture: " << command.outPath << "\n";
    if (!command.csvPath.empty()) {
        WriteFileAtomically(command.csvPath, ReportCsv(flats, outcome, darkName, outcomes));
        if (command.csvPath != "-") text << "Table: " << command.csvPath << "\n";
    }
    // The figures of the images that could be corrected are shown; the
    // command still fails, so that no script takes a partial report for a
    // whole one.
    if (!outcome.failure.empty()) FailRun("not every image could be corrected: " + outcome.failure);
    for (const AcceptanceCheck& check : checks) {
        if (!check.passed) throw ToolError(kExitRejected, "the images miss an acceptance limit: " + check.text);
    }
    return kExitSuccess;
}

}  // namespace cisffc
