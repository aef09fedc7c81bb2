// cisffc: calibrate CIS line cameras from a folder of flat-field images, see
// how uniform the corrected output is, and try it on a simulated module.
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "commands.h"
#include "tool_error.h"

namespace {

using namespace cisffc;

void AddCalibrationOptions(CLI::App& command, CalibrationOptions& options) {
    command.add_option("--run", options.run,
                       "Calibration: current (low/high map), previous (its predecessor) or segmented "
                       "(two-piece fits)")
        ->capture_default_str()
        ->check(CLI::IsMember({"current", "previous", "segmented"}));
    command.add_option("--digits", options.significantDigits, "Significant digits of the fitted coefficients")
        ->capture_default_str()
        ->check(CLI::Range(1, 9));
    command.add_option("--ref-cols", options.referenceColumns,
                       "Reference columns, ranges like 100-200,300; their mean is the target level. "
                       "Default: the middle fifth of the line (current, previous), every column (segmented, "
                       "which fits only these columns, in ascending order)");
    auto* groups = command.add_option("--groups", options.columnGroups,
                                      "Column groups for the ripple measurement, one range each: 0-63,64-127");
    command.add_option("--group-width", options.groupWidth,
                       "Otherwise consecutive groups of this many columns; the middle of a group should span "
                       "several ripple periods")
        ->capture_default_str()
        ->check(CLI::Range(4, 1 << 20))
        ->excludes(groups);
    command.add_option("--width", options.imageWidth, "Image width; default: the size most images have")
        ->check(CLI::PositiveNumber);
    command.add_option("--height", options.imageHeight, "Image height; default: the size most images have")
        ->check(CLI::PositiveNumber);
}

void AddModeOptions(CLI::App& command, std::string& mode, std::string& test) {
    command.add_option("--mode", mode,
                       "Correction mode: 0 quadratic, 1 cubic, 4 mapping tables, 5 and 6 quadratic with gain and "
                       "dark pixels, default cubic with gain and dark pixels. Default: default (segmented: 1)");
    command.add_option("--test", test, "Test function: current or previous; default: the run's own")
        ->check(CLI::IsMember({"current", "previous"}));
}

}  // namespace

int main(int argc, char** argv) {
    // The tool explains failures itself, one line each; the image library's
    // own warnings would only add noise.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    CLI::App app{"cisffc: flat-field calibration of CIS line cameras from a folder of 8-bit BMP images of a "
                 "white target at many light levels.\nExit status: 0 success, 1 calibration or correction "
                 "failed, 2 usage error."};
    app.require_subcommand(1);

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
        "calibrate", "Calibrate from the images DIR/*.bmp and print a summary; --json writes every result");
    calibrateApp->add_option("DIR", calibrate.folder, "Calibration folder")->required();
    AddCalibrationOptions(*calibrateApp, calibrate.calibration);
    calibrateApp->add_option("--json", calibrate.jsonPath, "Write the parameters and all results to this file");

    CorrectCommand correct;
    CLI::App* correctApp = app.add_subcommand("correct", "Calibrate, then correct images into OUTDIR");
    correctApp->add_option("DIR", correct.folder, "Calibration folder")->required();
    correctApp->add_option("IMAGE", correct.images, "Images to correct")->required();
    correctApp->add_option("--out", correct.outFolder, "Folder for the corrected images (same file names)")
        ->required();
    AddCalibrationOptions(*correctApp, correct.calibration);
    AddModeOptions(*correctApp, correct.mode, correct.test);

    ReportCommand report;
    CLI::App* reportApp = app.add_subcommand(
        "report", "Calibrate, correct flat images and measure their column non-uniformity before and after");
    reportApp->add_option("DIR", report.folder, "Calibration folder")->required();
    reportApp->add_option("--out", report.outPath, "Picture to write (.png)")->required();
    reportApp->add_option("--heldout", report.heldOutFolder,
                          "Folder of flat images to measure; default: DIR/heldout/ if it holds images, else the "
                          "calibration images");
    AddCalibrationOptions(*reportApp, report.calibration);
    AddModeOptions(*reportApp, report.mode, report.test);

    DemoCommand demo;
    CLI::App* demoApp = app.add_subcommand(
        "demo", "Simulate a module, run all three calibrations, compare them and draw the report");
    demoApp->add_option("--out", demo.outFolder, "Folder for the module and the picture")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        std::cerr << "cisffc: " << error.what() << " (see cisffc --help)\n";
        return kExitUsage;
    }

    try {
        if (*simulateApp) return RunSimulate(simulate);
        if (*calibrateApp) return RunCalibrate(calibrate);
        if (*correctApp) return RunCorrect(correct);
        if (*reportApp) return RunReport(report);
        return RunDemo(demo);
    } catch (const ToolError& error) {
        std::cerr << "cisffc: " << error.what() << "\n";
        return error.status();
    } catch (const std::exception& error) {
        std::cerr << "cisffc: unexpected error: " << error.what() << "\n";
        return kExitFailed;
    }
}
