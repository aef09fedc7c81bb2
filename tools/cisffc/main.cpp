// cisffc: calibrate CIS line cameras from a folder of flat-field images, see
// how uniform the corrected output is, and try it on a simulated module.
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "column_ranges.h"
#include "commands.h"
#include "platform.h"
#include "tool_error.h"

namespace {

using namespace cisffc;

// Returns the options, which a calibration file excludes.
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

// Calibrating from a folder or applying a saved calibration, not both.
void AddCalibrationFile(CLI::App& command, std::string& path, const std::vector<CLI::Option*>& calibrationOptions) {
    CLI::Option* file = command.add_option(
        "--calibration", path, "Apply a calibration file saved by calibrate --save instead of calibrating DIR");
    for (CLI::Option* option : calibrationOptions) file->excludes(option);
}

void AddModeOptions(CLI::App& command, std::string& mode, std::string& test) {
    command.add_option("--mode", mode,
                       "Correction mode: 0 quadratic, 1 cubic, 4 mapping tables, 5 and 6 quadratic with gain and "
                       "dark pixels, default cubic with gain and dark pixels. Default: default (segmented: 1)")
        ->check(CLI::IsMember({"0", "1", "4", "5", "6", "default"}));
    command.add_option("--test", test, "Test function: current or previous; default: the run's own")
        ->check(CLI::IsMember({"current", "previous"}));
}

}  // namespace

int main(int argc, char** argv) {
    EndOnInterrupt();
    BinaryStandardOutput();
    KeepStandardErrorForTheTool();
    // The tool explains failures itself, one line each; the image library's
    // own warnings would only add noise.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    CLI::App app{"cisffc: flat-field calibration of CIS line cameras from a folder of 8-bit BMP images of a "
                 "white target at many light levels.\nExit status: 0 success, 1 calibration or correction "
                 "failed, 2 usage error."};
    app.require_subcommand(1);
    app.set_version_flag("--version", "cisffc: library " + vyrffc::LibraryVersion() + ", calibration file format " +
                                          std::to_string(vyrffc::FileFormatVersion()));

    SimulateCommand simulate;
    CLI::App* simulateApp = app.add_subcommand("simulate", "Write a simulated calibration folder, with held-out "
                                                           "flat images in DIR/heldout/");
    simulateApp->add_option("DIR", simulate.folder, "Folder to write")->required();
    simulateApp->add_option("--width", simulate.simulator.width, "Sensor columns")
        ->capture_default_str()->check(CLI::Range(16, 1 << 16));
    simulateApp->add_option("--height", simulate.simulator.height, "Rows per image")
        ->capture_default_str()->check(CLI::Range(1, 4096));
    simulateApp->add_option("--levels", simulate.simulator.levels, "Calibration light levels")
        ->capture_default_str()->check(CLI::Range(1, 1000));
    simulateApp->add_option("--chips", simulate.simulator.chips, "Sensor chips side by side")
        ->capture_default_str()->check(CLI::Range(1, 1000));
    simulateApp->add_option("--dark-columns", simulate.simulator.darkColumns, "Columns that stay 0 in dim light")
        ->capture_default_str()->check(CLI::Range(0, 1 << 16));
    simulateApp->add_option("--seed", simulate.simulator.seed, "Seed of the module and its noise")
        ->capture_default_str();
    simulateApp->add_option("--heldout", simulate.heldOut, "Held-out flat images")
        ->capture_default_str()->check(CLI::Range(0, 1000));
    simulateApp->add_flag("--replace", simulate.replace, "Replace DIR when it already holds files");

    CalibrateCommand calibrate;
    CLI::App* calibrateApp = app.add_subcommand(
        "calibrate", "Calibrate from the images DIR/*.bmp and print a summary; --save keeps the calibration, --json "
                     "writes every result");
    calibrateApp->add_option("DIR", calibrate.folder, "Calibration folder")->required();
    AddCalibrationOptions(*calibrateApp, calibrate.calibration);
    calibrateApp->add_option("--save", calibrate.savePath, "Write the calibration file for correct and report");
    calibrateApp->add_option("--json", calibrate.jsonPath,
                             "Write the parameters and all results to this file (- for standard output)");

    CorrectCommand correct;
    CLI::App* correctApp = app.add_subcommand(
        "correct", "Correct images into the --out folder with a saved calibration (--calibration FILE INPUT...) or "
                   "one made from DIR (DIR INPUT...)");
    correctApp->add_option("INPUT", correct.arguments,
                           "DIR without --calibration, then images and folders (their .bmp, .png and .tif files)")
        ->required();
    correctApp->add_option("--out", correct.outFolder,
                           "Folder for the corrected images (same names, same formats)")->required();
    AddCalibrationFile(*correctApp, correct.calibrationFile,
                       AddCalibrationOptions(*correctApp, correct.calibration));
    AddModeOptions(*correctApp, correct.mode, correct.test);
    correct.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    correctApp->add_option("--jobs", correct.jobs, "Threads that correct each image")
        ->capture_default_str()->check(CLI::Range(1, 1024));
    correctApp->add_flag("--keep-going", correct.keepGoing,
                         "Go past an image that cannot be corrected; exit status 1 at the end");
    correctApp->add_flag("--quiet", correct.quiet, "No progress line and no summary");

    ReportCommand report;
    CLI::App* reportApp = app.add_subcommand(
        "report", "Correct flat images with a calibration from DIR or --calibration FILE and measure their column "
                  "non-uniformity, PRNU and DSNU before and after");
    reportApp->add_option("DIR", report.folder, "Calibration folder");
    reportApp->add_option("--out", report.outPath, "Picture to write (.png)")->required();
    reportApp->add_option("--heldout", report.heldOutFolder,
                          "Folder of flat images (*.bmp) to measure; default: DIR/heldout/ if it holds images, "
                          "else the calibration images");
    reportApp->add_option("--dark", report.darkImage,
                          "Image taken without light, for PRNU and DSNU; default: dark.bmp beside the flat images");
    reportApp->add_option("--csv", report.csvPath, "Write the table of figures per image (- for standard output)");
    AddCalibrationFile(*reportApp, report.calibrationFile, AddCalibrationOptions(*reportApp, report.calibration));
    AddModeOptions(*reportApp, report.mode, report.test);

    DemoCommand demo;
    CLI::App* demoApp = app.add_subcommand(
        "demo", "Simulate a module, run all three calibrations, compare them and draw the report");
    demoApp->add_option("--out", demo.outFolder, "Folder for the module and the picture")->capture_default_str();

    if (argc <= 1) {
        std::cout << app.help();
        return kExitSuccess;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        ToolErrors() << "cisffc: the command line is not valid: " << error.what() << " (see cisffc --help)\n";
        return kExitUsage;
    }

    try {
        if (*simulateApp) return RunSimulate(simulate);
        if (*calibrateApp) return RunCalibrate(calibrate);
        if (*correctApp) return RunCorrect(correct);
        if (*reportApp) return RunReport(report);
        return RunDemo(demo);
    } catch (const ToolError& error) {
        ToolErrors() << "cisffc: " << error.what() << "\n";
        return error.status();
    } catch (const std::exception& error) {
        ToolErrors() << "cisffc: the command stopped on an error it did not expect: " << error.what() << "\n";
        return kExitFailed;
    }
}
