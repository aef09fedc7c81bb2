// The subcommands of cisffc. Each returns the exit status or throws a
// ToolError that carries it.
#ifndef CISFFC_COMMANDS_H
#define CISFFC_COMMANDS_H

#include <string>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"
#include "calibration.h"
#include "cis_simulator.h"

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

// "0", "1", "4", "5", "6" or "default"; empty for the run's own default.
int32_t ParseMode(const std::string& text, RunKind run);
// "current" or "previous"; empty for the run's own. A mode that a calibration
// of the run does not serve with that test function is a usage error.
TestFunction ParseTestFunction(const std::string& text, RunKind run, int32_t mode);

struct SimulateCommand {
    std::string folder;
    cissim::SimulatorOptions simulator;
    int heldOut = 8;
    bool replace = false;
};

struct CalibrateCommand {
    std::string folder;
    CalibrationOptions calibration;
    std::string jsonPath;  // "-": standard output
    std::string savePath;  // the calibration file
};

struct CorrectCommand {
    // Without a calibration file the first argument is the calibration
    // folder; the rest are images and folders of images.
    std::vector<std::string> arguments;
    std::string calibrationFile;
    std::string outFolder;
    CalibrationOptions calibration;
    std::string mode;  // empty: the run's default
    std::string test;  // empty: the run's own test function
    int jobs = 0;      // 0: one thread per core
    bool keepGoing = false;
    bool quiet = false;
};

struct ReportCommand {
    std::string folder;           // empty with a calibration file
    std::string calibrationFile;
    std::string heldOutFolder;  // empty: DIR/heldout/ when it holds images, else the calibration images
    std::string darkImage;      // empty: the dark image beside the flat images, if any
    std::string outPath;
    std::string csvPath;        // empty: no table file
    CalibrationOptions calibration;
    std::string mode;
    std::string test;
};

struct DemoCommand {
    std::string outFolder = "cisffc-demo";
};

int RunSimulate(const SimulateCommand& command);
int RunCalibrate(const CalibrateCommand& command);
int RunCorrect(const CorrectCommand& command);
int RunReport(const ReportCommand& command);
int RunDemo(const DemoCommand& command);

// Writes a simulated module: the calibration images in `folder` and held-out
// flat images in its "heldout" subfolder, which the "*.bmp" pattern of the
// calibration does not reach. Returns the held-out paths.
std::vector<std::string> WriteSimulatedModule(const SimulateCommand& command);

}  // namespace cisffc

#endif  // CISFFC_COMMANDS_H
