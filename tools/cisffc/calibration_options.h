// What calibrate, correct and report share: the calibration options on their
// command lines, the mode and test function checked against the run, and the
// calibration a command works with, made from a folder or read from a file.
#ifndef CISFFC_CALIBRATION_OPTIONS_H
#define CISFFC_CALIBRATION_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"
#include "calibration.h"
#include "output_file.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace cisffc {

// The calibration options as typed on the command line.
struct CalibrationOptions {
    std::string run = "current";
    uint32_t significantDigits = vyrffc::Settings{}.significantDigits;
    std::string referenceColumns;  // ranges; empty for the run's default
    std::string columnGroups;      // ranges, one group each; empty for --group-width
    int32_t groupWidth = vyrffc::Settings{}.groupWidth;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
};

vyrffc::Settings ToSettings(const CalibrationOptions& options);

// A mode number or name (vyrffc::ModeNamed); empty for the default mode of
// the run and test function.
int32_t ParseMode(const std::string& text, RunKind run, TestFunction test);
// "current" or "previous"; empty for the run's own.
TestFunction ParseTestFunction(const std::string& text, RunKind run);
// A mode that a calibration of the run does not serve with that test
// function is a usage error.
void RequireServed(int32_t mode, TestFunction test, RunKind run);

// --run, --digits, --ref-cols, --groups, --group-width, --width, --height.
// Returns the options, which a calibration file excludes.
std::vector<CLI::Option*> AddCalibrationOptions(CLI::App& command, CalibrationOptions& options);
// --calibration: applying a saved calibration instead of calibrating from a
// folder, so none of `calibrationOptions` goes with it.
void AddCalibrationFile(CLI::App& command, std::string& path, const std::vector<CLI::Option*>& calibrationOptions);
// --mode and --test, and the help on the output level.
void AddModeOptions(CLI::App& command, std::string& mode, std::string& test);

// The calibration a command works with and how it is applied.
struct AppliedCalibration {
    Calibration calibration;
    int32_t mode = 0;
    TestFunction test = TestFunction::kCurrent;
};

// The file when one is named, else a run on the folder. The run is known
// before the folder is calibrated, so --mode and --test (`mode`, `test`) are
// checked against it first, before any work.
AppliedCalibration ObtainCalibration(const std::string& file, const std::string& folder,
                                     const CalibrationOptions& options, const std::string& mode,
                                     const std::string& test);

// A segmented run that left columns with one piece holds its results all the
// same; the command reports them and then fails.
void FailIfIncomplete(const Calibration& calibration);

// The files the run skipped, and why, one note each on stderr.
void PrintNotes(const Calibration& calibration);

// The images a calibration folder gives a run, as inputs no output may
// overwrite; a folder that cannot be listed fails later with its reason.
void AddCalibrationImages(const std::string& folder, std::vector<NamedFile>& inputs);

}  // namespace cisffc

#endif  // CISFFC_CALIBRATION_OPTIONS_H
