#include "calibration_options.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include <CLI/CLI.hpp>

#include "calibration_facts.h"
#include "column_ranges.h"
#include "images.h"
#include "platform.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace {

RunKind ParseRun(const std::string& text) {
    if (const std::optional<RunKind> run = vyrffc::RunNamed(text)) return *run;
    FailUsage("--run: expected current, previous or segmented, got \"" + text + "\"");
}

struct ModeChoice {
    int32_t mode;
    TestFunction test;
};

ModeChoice ChooseMode(const std::string& mode, const std::string& test, RunKind run) {
    const TestFunction rule = ParseTestFunction(test, run);
    const int32_t chosen = ParseMode(mode, run, rule);
    RequireServed(chosen, rule, run);
    return {chosen, rule};
}

// "6 (quadratic-dark-forward)"
std::string ModeLabel(int32_t mode) { return std::to_string(mode) + " (" + vyrffc::ModeName(mode) + ")"; }

// One line per mode, as the current rule has it (mode 5's line names what the
// previous rule does instead).
std::string ModeHelp() {
    std::string help = "Correction mode, a number or a name:";
    for (int mode : vyrffc::AllModes()) {
        help += "\n  " + std::to_string(mode) + " " + vyrffc::ModeName(mode) + ": " +
                vyrffc::ModeDescription(mode, TestFunction::kCurrent);
    }
    const auto defaultOf = [](RunKind run, TestFunction rule) { return ModeLabel(vyrffc::DefaultMode(run, rule)); };
    help += "\nDefault: " + defaultOf(RunKind::kCurrent, TestFunction::kCurrent) + " for the current run, " +
            defaultOf(RunKind::kPrevious, TestFunction::kPrevious) + " for the previous run (" +
            defaultOf(RunKind::kPrevious, TestFunction::kCurrent) + " with --test current), " +
            defaultOf(RunKind::kSegmented, TestFunction::kCurrent) +
            " for the segmented run: of the modes that correct every image (4 fails on a raw 255), the lowest "
            "residual non-uniformity, with dark columns kept nearest their neighbours in dim light (simulated "
            "7,296-column module: current run 0.81% against 0.88% for the cubic modes, previous run 0.36% against "
            "0.42% for mode 0, segmented run 1.47% against 2.13% for mode 0)";
    return help;
}

}  // namespace

vyrffc::Settings ToSettings(const CalibrationOptions& options) {
    vyrffc::Settings settings;
    settings.run = ParseRun(options.run);
    settings.significantDigits = options.significantDigits;
    if ((options.imageWidth == 0) != (options.imageHeight == 0)) {
        FailUsage("--width and --height go together");
    }
    settings.imageWidth = options.imageWidth;
    settings.imageHeight = options.imageHeight;
    if (!options.referenceColumns.empty()) {
        settings.referenceColumns = ExpandRanges(ParseColumnRanges(options.referenceColumns, "--ref-cols"));
    }
    if (!options.columnGroups.empty()) {
        for (const ColumnRange& range : ParseColumnRanges(options.columnGroups, "--groups")) {
            settings.columnGroups.push_back(ExpandRanges({range}));
        }
    }
    settings.groupWidth = options.groupWidth;
    return settings;
}

int32_t ParseMode(const std::string& text, RunKind run, TestFunction test) {
    if (text.empty()) return vyrffc::DefaultMode(run, test);
    if (const std::optional<int> mode = vyrffc::ModeNamed(text)) return *mode;
    std::string known;
    for (int mode : vyrffc::AllModes()) known += std::to_string(mode) + " " + vyrffc::ModeName(mode) + ", ";
    FailUsage("--mode: expected one of " + known + "got \"" + text + "\"");
}

TestFunction ParseTestFunction(const std::string& text, RunKind run) {
    if (text == "current") return TestFunction::kCurrent;
    if (text == "previous") return TestFunction::kPrevious;
    if (!text.empty()) FailUsage("--test: expected current or previous, got \"" + text + "\"");
    return run == RunKind::kPrevious ? TestFunction::kPrevious : TestFunction::kCurrent;
}

void RequireServed(int32_t mode, TestFunction test, RunKind run) {
    // Refused before any work: the calibration would give a constant image.
    const std::vector<int> served = vyrffc::ServedModes(run, test);
    if (std::find(served.begin(), served.end(), mode) != served.end()) return;
    std::string modes;
    for (size_t i = 0; i < served.size(); ++i) {
        modes += (i == 0 ? "" : i + 1 == served.size() ? " and " : ", ") + std::to_string(served[i]);
    }
    FailUsage("--mode " + ModeLabel(mode) + ": with the " +
              (test == TestFunction::kPrevious ? "previous" : "current") + "-generation test it reads results the " +
              RunName(run) + " calibration does not hold; with that test it serves modes " + modes);
}

std::vector<CLI::Option*> AddCalibrationOptions(CLI::App& command, CalibrationOptions& options) {
    std::vector<CLI::Option*> added;
    added.push_back(command.add_option("--run", options.run,
                       "Calibration: current (low/high map), previous (its predecessor) or segmented "
                       "(two-piece fits)")
        ->capture_default_str()
        ->check(CLI::IsMember({"current", "previous", "segmented"})));
    added.push_back(command.add_option("--digits", options.significantDigits, "Significant digits of the fitted coefficients")
        ->capture_default_str()
        ->check(CLI::Range(1, 9)));
    added.push_back(command.add_option("--ref-cols", options.referenceColumns,
                       "Reference columns, ranges like 100-200,300; their mean is the target level. "
                       "Default: the middle fifth of the line (current, previous), every column (segmented, "
                       "which fits only these columns, in ascending order)"));
    auto* groups = command.add_option("--groups", options.columnGroups,
                                      "Column groups for the ripple measurement, one range each: 0-63,64-127");
    added.push_back(groups);
    added.push_back(command.add_option("--group-width", options.groupWidth,
                       "Otherwise consecutive groups of this many columns; the middle of a group should span "
                       "several ripple periods")
        ->capture_default_str()
        ->check(CLI::Range(4, kMaxColumns))
        ->excludes(groups));
    added.push_back(command.add_option("--width", options.imageWidth,
                                       "Image width, with --height; default: the size most images have")
        ->check(CLI::Range(1, kMaxColumns)));
    added.push_back(command.add_option("--height", options.imageHeight,
                                       "Image height, with --width; default: the size most images have")
        ->check(CLI::Range(1, 1 << 16)));
    return added;
}

void AddCalibrationFile(CLI::App& command, std::string& path, const std::vector<CLI::Option*>& calibrationOptions) {
    CLI::Option* file = command.add_option(
        "--calibration", path, "Apply a calibration file saved by calibrate --save instead of calibrating DIR");
    for (CLI::Option* option : calibrationOptions) file->excludes(option);
}

void AddModeOptions(CLI::App& command, std::string& mode, std::string& test) {
    command.add_option("--mode", mode, ModeHelp());
    command.add_option("--test", test, "Test function: current or previous; default: the run's own")
        ->check(CLI::IsMember({"current", "previous"}));
    command.footer(kOutputLevelHelp);
}

AppliedCalibration ObtainCalibration(const std::string& file, const std::string& folder,
                                     const CalibrationOptions& options, const std::string& mode,
                                     const std::string& test) {
    if (!file.empty()) {
        Calibration calibration = LoadCalibration(file);
        const ModeChoice choice = ChooseMode(mode, test, calibration.results().run);
        return {std::move(calibration), choice.mode, choice.test};
    }
    const vyrffc::Settings settings = ToSettings(options);
    const ModeChoice choice = ChooseMode(mode, test, settings.run);
    Calibration calibration = CalibrateFromFolder(folder, settings);
    PrintNotes(calibration);
    return {std::move(calibration), choice.mode, choice.test};
}

void FailIfIncomplete(const Calibration& calibration) {
    const std::vector<int32_t> incomplete = calibration.results().IncompleteColumns();
    if (incomplete.empty()) return;
    FailRun("the segmented calibration is incomplete: " + std::to_string(incomplete.size()) +
            " column(s) had fewer than 10 points on one side of their overlap window");
}

void PrintNotes(const Calibration& calibration) {
    for (const std::string& warning : calibration.warnings) ToolErrors() << "note: " << warning << "\n";
}

void AddCalibrationImages(const std::string& folder, std::vector<NamedFile>& inputs) {
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) return;
    for (const std::string& path : ListBitmaps(folder)) inputs.push_back({"the calibration image", path});
}

}  // namespace cisffc
