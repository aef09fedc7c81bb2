#include "calibrate_command.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include <CLI/CLI.hpp>

#include "calibration_facts.h"
#include "column_ranges.h"
#include "output_file.h"
#include "platform.h"
#include "report.h"
#include "results_json.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace {

void PrintSegmentedSummary(std::ostream& out, const vyrffc::Results& r) {
    std::vector<int32_t> breaks;
    for (int32_t column : r.referenceColumns) {
        if (r.segQuadBreaks[column] != 256) breaks.push_back(r.segQuadBreaks[column]);
    }
    std::sort(breaks.begin(), breaks.end());
    out << "Breakpoints  ";
    if (breaks.empty()) {
        out << "none\n";
    } else {
        out << "quadratic pieces join at gray " << breaks.front() << " to " << breaks.back() << " (median "
            << breaks[breaks.size() / 2] << ")\n";
    }
    const std::vector<int32_t> incomplete = r.IncompleteColumns();
    if (!incomplete.empty()) {
        out << "Incomplete   " << incomplete.size() << " column(s) with one piece only: " << FormatColumns(incomplete)
            << "\n";
    }
}

// The dark columns (the first eight with their ranges) and the gains.
void PrintMapSummary(std::ostream& out, const vyrffc::Results& r) {
    std::vector<int32_t> flagged;
    for (size_t c = 0; c < r.columnFlags.size(); ++c) {
        if (r.columnFlags[c]) flagged.push_back(static_cast<int32_t>(c));
    }
    out << "Dark columns " << flagged.size() << " flagged";
    if (!flagged.empty()) out << ", as column (lowest..highest reference level at which it reads raw 0)";
    for (size_t i = 0; i < flagged.size() && i < 8; ++i) {
        const auto& range = r.columnDarkRanges[flagged[i]];
        out << (i == 0 ? ": " : ", ") << flagged[i];
        if (range.size() >= 2) out << " (" << range[0] << ".." << range[1] << ")";
    }
    out << (flagged.size() > 8 ? ", ..." : "") << "\n";
    if (r.run == RunKind::kCurrent) {
        out << "Gains        quadratic " << r.realQuadGain << ", cubic " << r.realCubicGain
            << " (folded into the coefficients)\n";
    } else {
        out << "Gains        range gain " << r.rangeGain << "\n";
    }
}

void PrintCalibrationSummary(std::ostream& out, const Calibration& calibration) {
    const vyrffc::Results& r = calibration.results();
    out << "Source       " << calibration.source << "\n";
    out << "Image size   " << r.imageWidth << "x" << r.imageHeight << "\n";
    out << "Run          " << RunName(r.run) << ", " << r.significantDigits << " significant digits";
    if (calibration.seconds > 0.0) out << ", " << Fixed(calibration.seconds, 3) << " s";
    out << "\n";
    out << "Reference    columns " << FormatColumns(r.referenceColumns) << " (" << r.referenceColumns.size() << ")\n";
    out << "Groups       " << r.columnGroups.size() << " column groups\n";
    if (r.camera.Named() || !r.camera.notes.empty()) out << "Camera       " << CameraText(r.camera) << "\n";
    if (r.run == RunKind::kSegmented) {
        PrintSegmentedSummary(out, r);
    } else {
        PrintMapSummary(out, r);
    }
}

std::string Number(double value, int decimals) { return std::isnan(value) ? "n/a" : Fixed(value, decimals); }

// The images the run used, read again by the tool's reader and judged.
vyrffc::CalibrationSetVerdict JudgeCalibrationSet(const Calibration& calibration) {
    std::vector<cv::Mat> images;
    for (FlatImage& image : LoadCalibrationImages(calibration.source, calibration.results())) {
        images.push_back(std::move(image.raw));
    }
    try {
        return vyrffc::AssessCalibrationSet(calibration.library, images);
    } catch (const vyrffc::Error& error) {
        FailRun("cannot judge the calibration images: " + std::string(error.what()));
    }
}

// How the levels cover the fitting range, the images that clip or look like
// a scene, the flagged columns and the residual non-uniformity on the set;
// each warning on stderr, as the notes are.
void PrintVerdict(std::ostream& out, const vyrffc::CalibrationSetVerdict& v) {
    out << "Set          " << v.images.size() << " images judged: " << v.levelsInside
        << " levels (mean over the reference columns) inside " << Number(v.rangeLow, 1) << ".."
        << Number(v.rangeHigh, 1) << ", from " << Number(v.lowestInside, 1) << " to " << Number(v.highestInside, 1)
        << ", largest gap " << Number(v.largestGap, 1);
    if (v.extrapolatesLow || v.extrapolatesHigh) {
        out << "; the fits extrapolate to "
            << (v.extrapolatesLow && v.extrapolatesHigh ? "both ends" : v.extrapolatesLow ? "the low end" : "the high end");
    }
    out << "\n";
    out << "             " << v.clippedImages << " clipped, " << v.sceneLikeImages << " like a scene; "
        << Number(100.0 * v.flaggedShare, 2) << "% of the columns flagged; residual NU on the set "
        << Number(100.0 * v.residualNonUniformity, 3) << "% (mode " << ModeName(v.correctionMode) << ")\n";
    out.flush();
    for (const std::string& warning : v.warnings) ToolErrors() << "warning: " << warning << "\n";
}

}  // namespace

void AddCalibrateOptions(CLI::App& command, CalibrateCommand& options) {
    command.add_option("DIR", options.folder, "Calibration folder")->required();
    AddCalibrationOptions(command, options.calibration);
    command.add_option("--save", options.savePath, "Write the calibration file for correct and report");
    command.add_option("--json", options.jsonPath,
                       "Write the parameters, every result (the mapping tables included) and the verdict on the "
                       "calibration set to this file (- for standard output)");
    command.add_flag("--strict", options.strict,
                     "Fail (exit status 1, nothing written) when the verdict on the calibration set warns");
    command.add_option("--camera-model", options.cameraModel, "The camera's model, kept in the calibration");
    command.add_option("--camera-serial", options.cameraSerial,
                       "The camera's serial number, kept in the calibration; correct --require-serial checks it");
    command.add_option("--note", options.notes, "A note KEY=VALUE kept in the calibration (repeatable)")
        ->allow_extra_args(false);
}

int RunCalibrate(const CalibrateCommand& command) {
    std::vector<NamedFile> outputs;
    if (!command.savePath.empty()) outputs.push_back({"--save", command.savePath});
    if (!command.jsonPath.empty()) outputs.push_back({"--json", command.jsonPath});
    std::vector<NamedFile> inputs;
    AddCalibrationImages(command.folder, inputs);
    CheckOutputs(outputs, inputs);
    vyrffc::Settings settings = ToSettings(command.calibration);
    settings.camera = ParseCameraIdentity(command.cameraModel, command.cameraSerial, command.notes);
    Calibration calibration = CalibrateFromFolder(command.folder, settings);
    PrintNotes(calibration);
    // With an output on standard output the summary goes out of its way.
    std::ostream& summary = command.jsonPath == "-" || command.savePath == "-" ? ToolErrors() : std::cout;
    PrintCalibrationSummary(summary, calibration);
    const vyrffc::CalibrationSetVerdict verdict = JudgeCalibrationSet(calibration);
    PrintVerdict(summary, verdict);
    // Refused before anything is written: a strict run keeps no calibration
    // its set cannot vouch for.
    if (command.strict && !verdict.warnings.empty()) {
        FailRun("--strict: the calibration set drew " + std::to_string(verdict.warnings.size()) +
                " warning(s), so no file is written");
    }
    // Kept in the file so that `check` can tell a drifted camera from what
    // the calibration could do at that level in the first place.
    calibration.library = vyrffc::KeepSetResiduals(calibration.library, verdict);
    // Seen before a write that may wait (a FIFO without its reader yet).
    summary.flush();
    if (!command.savePath.empty()) {
        WriteFileAtomically(command.savePath, calibration.library.Serialize());
        if (command.savePath != "-") summary << "Saved        " << command.savePath << "\n";
    }
    if (!command.jsonPath.empty()) {
        WriteFileAtomically(command.jsonPath, JsonText(CalibrationToJson(calibration, &verdict)));
        if (command.jsonPath != "-") summary << "Results      " << command.jsonPath << "\n";
    }
    FailIfIncomplete(calibration);
    return kExitSuccess;
}

}  // namespace cisffc
