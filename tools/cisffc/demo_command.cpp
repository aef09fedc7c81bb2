#include "demo_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>

#include "calibration.h"
#include "cis_simulator.h"
#include "correct_command.h"
#include "images.h"
#include "output_file.h"
#include "report.h"
#include "simulate_command.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

// A module of the size integrators meet: a few thousand columns on several
// chips, calibrated over 48 light levels, checked on 16 levels in between.
SimulateCommand DemoModule(const std::string& outFolder) {
    SimulateCommand module;
    module.folder = (fs::path(outFolder) / "module").string();
    module.simulator.width = 5120;
    module.simulator.height = 16;
    module.simulator.levels = 48;
    module.simulator.chips = 10;
    module.simulator.darkColumns = 6;
    module.simulator.seed = 7;
    module.heldOut = 16;
    module.replace = true;
    return module;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct DemoRun {
    RunKind run;
    TestFunction test;
};

struct HeldOutImages {
    std::string folder;
    std::vector<FlatImage> flats;
    std::vector<FlatImage> dark;  // one image
    double seconds = 0.0;         // time the reading took
};

// Returns the held-out paths.
std::vector<std::string> SimulateModule(const DemoCommand& command, const SimulateCommand& module) {
    const cissim::SimulatorOptions& options = module.simulator;
    std::cout << "Simulating a CIS module: " << options.width << " columns on " << options.chips << " chips, "
              << options.levels << " calibration levels, " << module.heldOut << " held-out levels\n";
    const auto start = std::chrono::steady_clock::now();
    EnsureFolder(command.outFolder);
    const std::vector<std::string> heldOut = WriteSimulatedModule(module);
    std::printf("  simulated in %.2f s: %s\n\n", SecondsSince(start), module.folder.c_str());
    return heldOut;
}

HeldOutImages LoadHeldOut(const SimulateCommand& module, const std::vector<std::string>& paths) {
    const auto start = std::chrono::steady_clock::now();
    HeldOutImages heldOut;
    heldOut.folder = (fs::path(module.folder) / "heldout").string();
    heldOut.flats = LoadFlatImages(paths, module.simulator.width);
    heldOut.dark = LoadFlatImages({(fs::path(heldOut.folder) / kDarkImageName).string()}, module.simulator.width);
    heldOut.seconds = SecondsSince(start);
    return heldOut;
}

// As on a production line: the run calibrates once and saves its file; the
// held-out images are corrected from the file read back, once per mode the
// run serves.
std::vector<CorrectionOutcome> CalibrateAndEvaluate(const DemoCommand& command, const SimulateCommand& module,
                                                    const DemoRun& demoRun, const HeldOutImages& heldOut) {
    vyrffc::Settings settings;
    settings.run = demoRun.run;
    const Calibration made = CalibrateFromFolder(module.folder + "/", settings);
    const std::string file = (fs::path(command.outFolder) / (std::string(RunName(demoRun.run)) + ".ffcal")).string();
    const std::string bytes = made.library.Serialize();
    WriteFileAtomically(file, bytes);
    const auto start = std::chrono::steady_clock::now();
    Calibration calibration = LoadCalibration(file);
    std::printf("Calibrated (%s) in %.3f s, saved %s (%.1f kB), read back in %.4f s\n", RunName(demoRun.run),
                made.seconds, file.c_str(), bytes.size() / 1000.0, SecondsSince(start));
    calibration.seconds = made.seconds;
    const size_t incomplete = calibration.results().IncompleteColumns().size();
    if (incomplete > 0) std::printf("  %zu column(s) kept a single piece\n", incomplete);
    std::vector<CorrectionOutcome> outcomes;
    for (int32_t mode : calibration.library.Modes(demoRun.test)) {
        outcomes.push_back(EvaluateCorrection(calibration, demoRun.test, mode, heldOut.flats, &heldOut.dark.front()));
    }
    if (demoRun.run == RunKind::kSegmented) outcomes.push_back(EvaluateTwoPieces(calibration, heldOut.flats));
    return outcomes;
}

// The current run in the mode the line corrects in (correct's default).
size_t ProductionOutcome(const std::vector<CorrectionOutcome>& current) {
    for (size_t k = 0; k < current.size(); ++k) {
        if (current[k].mode == vyrffc::DefaultMode(RunKind::kCurrent, TestFunction::kCurrent)) return k;
    }
    return 0;
}

// The simulator's own figures for the flat image the measured ones come from.
vyrffc::SensorFigures TrueFigures(const SimulateCommand& module, const CorrectionOutcome& outcome) {
    const cissim::CisCamera camera = cissim::MakeCamera(module.simulator);
    const double light = cissim::HeldOutLightLevels(module.simulator, module.heldOut)[outcome.figureFlat];
    const cissim::TrueFigures truth = cissim::TrueSensorFigures(camera, light, outcome.columns);
    vyrffc::SensorFigures figures;
    figures.prnu.value = truth.prnu;
    figures.dsnu.value = truth.dsnu;
    figures.darkNoise.value = truth.darkNoise;
    return figures;
}

void PrintTables(const SimulateCommand& module, const HeldOutImages& heldOut,
                 const std::vector<CorrectionOutcome>& current, const std::vector<CorrectionOutcome>& all) {
    std::printf("Held-out images read in %.3f s\n\n", heldOut.seconds);
    PrintComparisonTable(std::cout, all);
    // The runs fit different ranges, so only the modes of one run are
    // measured on the same images: the best is that of the line's run.
    std::cout << BestModeLine(current) << "\n\n";
    const CorrectionOutcome& production = current[ProductionOutcome(current)];
    PrintLevelTable(std::cout, heldOut.flats, production);
    std::cout << "\n";
    if (production.figureFlat < 0) {
        PrintSensorFigures(std::cout, heldOut.flats, current, kDarkImageName);
        return;
    }
    const vyrffc::SensorFigures truth = TrueFigures(module, production);
    PrintSensorFigures(std::cout, heldOut.flats, current, kDarkImageName, &truth);
}

// In the picture every mode of the current run, whose file the line uses,
// and the best of each other run; the table has every mode.
std::vector<CorrectionOutcome> DrawnOutcomes(const std::vector<CorrectionOutcome>& current,
                                             const std::vector<CorrectionOutcome>& all) {
    std::vector<CorrectionOutcome> drawn = current;
    for (const CorrectionOutcome& outcome : all) {
        for (const char* label : {"previous mode 6", "segmented 2-piece"}) {
            if (outcome.label == label) drawn.push_back(outcome);
        }
    }
    return drawn;
}

void DrawDemoReport(const DemoCommand& command, const SimulateCommand& module, const HeldOutImages& heldOut,
                    const std::vector<CorrectionOutcome>& current, const std::vector<CorrectionOutcome>& all) {
    const auto start = std::chrono::steady_clock::now();
    const std::string picture = (fs::path(command.outFolder) / "report.png").string();
    const cissim::SimulatorOptions& options = module.simulator;
    WritePictureAtomically(
        picture, DrawReport("Flat-field calibration of a simulated " + std::to_string(options.width) +
                                "-column CIS module",
                            heldOut.flats, DrawnOutcomes(current, all), ProductionOutcome(current),
                            "simulated module, seed " + std::to_string(options.seed) + "; drawn by cisffc demo, library " +
                                vyrffc::LibraryVersion(),
                            "the mode the line corrects in", {BestModeLine(current)}));
    std::printf("\nReport drawn in %.3f s\n", SecondsSince(start));
    std::cout << "Picture: " << picture << "\n";
}

// The production flow: the line corrects every frame from the file saved
// once, never from the calibration folder.
int CorrectOnTheLine(const DemoCommand& command, const HeldOutImages& heldOut) {
    CorrectCommand correct;
    correct.calibrationFile = (fs::path(command.outFolder) / "current.ffcal").string();
    correct.arguments = {heldOut.folder};
    correct.outFolder = (fs::path(command.outFolder) / "corrected").string();
    correct.jobs = 0;
    std::cout << "\nOn the line: cisffc correct --calibration " << correct.calibrationFile << " " << heldOut.folder
              << " --out " << correct.outFolder << "\n";
    return RunCorrect(correct);
}

}  // namespace

void AddDemoOptions(CLI::App& command, DemoCommand& options) {
    command.add_option("--out", options.outFolder, "Folder for the module and the picture")->capture_default_str();
}

int RunDemo(const DemoCommand& command) {
    const auto demoStart = std::chrono::steady_clock::now();
    const SimulateCommand module = DemoModule(command.outFolder);
    const HeldOutImages heldOut = LoadHeldOut(module, SimulateModule(command, module));
    const std::vector<DemoRun> runs = {
        {RunKind::kCurrent, TestFunction::kCurrent},
        {RunKind::kPrevious, TestFunction::kPrevious},
        {RunKind::kSegmented, TestFunction::kCurrent},
    };
    std::vector<CorrectionOutcome> current, all;
    for (const DemoRun& demoRun : runs) {
        const std::vector<CorrectionOutcome> outcomes = CalibrateAndEvaluate(command, module, demoRun, heldOut);
        if (demoRun.run == RunKind::kCurrent) current = outcomes;
        all.insert(all.end(), outcomes.begin(), outcomes.end());
    }
    PrintTables(module, heldOut, current, all);
    DrawDemoReport(command, module, heldOut, current, all);
    const int status = CorrectOnTheLine(command, heldOut);
    std::printf("Whole demo %.1f s\n", SecondsSince(demoStart));
    return status;
}

}  // namespace cisffc
