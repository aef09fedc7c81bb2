// cisffc: calibrate CIS line cameras from a folder of flat-field images, see
// how uniform the corrected output is, and try it on a simulated module.
#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <opencv2/core/utils/logger.hpp>

#include "calibrate_command.h"
#include "capture_command.h"
#include "check_command.h"
#include "correct_command.h"
#include "demo_command.h"
#include "platform.h"
#include "report_command.h"
#include "simulate_command.h"
#include "tool_error.h"

namespace {

using namespace cisffc;

// One row of the table of subcommands: the options are bound to the
// command's own settings, which its run then reads.
struct Subcommand {
    const char* name;
    const char* help;
    std::function<void(CLI::App&)> addOptions;
    std::function<int()> run;
};

template <typename Command>
Subcommand Row(const char* name, const char* help, Command& command, void (*addOptions)(CLI::App&, Command&),
               int (*run)(const Command&)) {
    return {name, help, [&command, addOptions](CLI::App& app) { addOptions(app, command); },
            [&command, run] { return run(command); }};
}

// Parses the command line; returns the exit status when that is all there is
// to do (help, version, a usage error), else -1.
int Parse(CLI::App& app, int argc, char** argv) {
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
        ToolErrors() << "cisffc: the command line is not valid: " << OneLine(error.what()) << " (see cisffc --help)\n";
        return kExitUsage;
    }
    return -1;
}

// A failure ends the command with one line and its exit status.
int Run(const std::function<int()>& run) {
    try {
        return run();
    } catch (const ToolError& error) {
        ToolErrors() << "cisffc: " << OneLine(error.what()) << "\n";
        return error.status();
    } catch (const std::exception& error) {
        ToolErrors() << "cisffc: the command stopped on an error it did not expect: " << OneLine(error.what()) << "\n";
        return kExitFailed;
    }
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
                 "white target at many light levels.\nExit status: 0 success; 1 a calibration, correction or output "
                 "failed (calibrate --strict: the set drew a warning); 2 usage error; 3 report: the mode applied "
                 "misses --max-prnu or --max-nu, check: the camera misses them, recalibrate; 130 interrupted."};
    app.require_subcommand(1);
    app.set_version_flag("--version", "cisffc: library " + vyrffc::LibraryVersion() + ", calibration file format " +
                                          std::to_string(vyrffc::FileFormatVersion()));

    SimulateCommand simulate;
    CalibrateCommand calibrate;
    CorrectCommand correct;
    ReportCommand report;
    DemoCommand demo;
    CaptureCommand capture;
    CheckCommand check;
    const std::vector<Subcommand> subcommands = {
        Row("simulate", "Write a simulated calibration folder, with held-out flat images in DIR/heldout/", simulate,
            AddSimulateOptions, RunSimulate),
        Row("calibrate",
            "Calibrate from the images DIR/*.bmp and print a summary; --save keeps the calibration, --json writes "
            "every result",
            calibrate, AddCalibrateOptions, RunCalibrate),
        Row("correct",
            "Correct images into the --out folder with a saved calibration (--calibration FILE INPUT...) or one "
            "made from DIR (DIR INPUT...)",
            correct, AddCorrectOptions, RunCorrect),
        Row("report",
            "Correct flat images with a calibration from DIR or --calibration FILE in every mode it serves, "
            "measure non-uniformity, PRNU, DSNU and dark noise before and after, name the best mode and check "
            "the mode applied against --max-prnu and --max-nu",
            report, AddReportOptions, RunReport),
        Row("demo", "Simulate a module, run all three calibrations, compare them and draw the report", demo,
            AddDemoOptions, RunDemo),
        Row("capture",
            "Capture a calibration series (and a dark image) from a GenICam camera into the --out folder; "
            "--calibrate calibrates from it at once",
            capture, AddCaptureOptions, RunCapture),
        Row("check",
            "Grab frames of the white target from a GenICam camera, correct them with --calibration FILE and say "
            "whether the camera needs a new calibration",
            check, AddCheckOptions, RunCheck),
    };
    std::vector<CLI::App*> added;
    for (const Subcommand& subcommand : subcommands) {
        added.push_back(app.add_subcommand(subcommand.name, subcommand.help));
        subcommand.addOptions(*added.back());
    }

    const int parsed = Parse(app, argc, argv);
    if (parsed >= 0) return parsed;
    for (size_t i = 0; i < subcommands.size(); ++i) {
        if (*added[i]) return Run(subcommands[i].run);
    }
    return kExitUsage;  // not reached: exactly one subcommand is required
}
