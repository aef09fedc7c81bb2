#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "calibration.h"
#include "commands.h"
#include "images.h"
#include "output_file.h"
#include "report.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace {

// A module of the size integrators meet: a few thousand columns on several
// chips, calibrated over 48 light levels, checked on 16 levels in between.
SimulateCommand DemoModule(const std::string& outFolder) {
    SimulateCommand module;
    module.folder = (std::filesystem::path(outFolder) / "module").string();
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
    std::vector<int32_t> modes;
};

}  // namespace

int RunDemo(const DemoCommand& command) {
    const auto demoStart = std::chrono::steady_clock::now();
    const SimulateCommand module = DemoModule(command.outFolder);
    const cissim::SimulatorOptions& options = module.simulator;
    std::cout << "Simulating a CIS module: " << options.width << " columns on " << options.chips << " chips, "
              << options.levels << " calibration levels, " << module.heldOut << " held-out levels\n";
    auto start = std::chrono::steady_clock::now();
    EnsureFolder(command.outFolder);
    const std::vector<std::string> heldOut = WriteSimulatedModule(module);
    std::printf("  simulated in %.2f s: %s\n\n", SecondsSince(start), module.folder.c_str());

    start = std::chrono::steady_clock::now();
    const std::vector<FlatImage> flats = LoadFlatImages(heldOut, options.width);
    const std::string heldOutFolder = (std::filesystem::path(module.folder) / "heldout").string();
    const std::vector<FlatImage> dark =
        LoadFlatImages({(std::filesystem::path(heldOutFolder) / kDarkImageName).string()}, options.width);
    const double loadSeconds = SecondsSince(start);

    const std::vector<DemoRun> runs = {
        {RunKind::kCurrent, TestFunction::kCurrent, {0, 1, 6, kDefaultMode}},
        {RunKind::kPrevious, TestFunction::kPrevious, {0, 1, 5, 6, kDefaultMode}},
        {RunKind::kSegmented, TestFunction::kCurrent, {0, 1}},
    };
    // As on a production line: each run calibrates once and saves its file;
    // the held-out images are corrected from the file read back.
    std::vector<CorrectionOutcome> outcomes;
    for (const DemoRun& demoRun : runs) {
        vyrffc::Settings settings;
        settings.run = demoRun.run;
        const Calibration made = CalibrateFromFolder(module.folder + "/", settings);
        const std::string file =
            (std::filesystem::path(command.outFolder) / (std::string(RunName(demoRun.run)) + ".ffcal")).string();
        const std::string bytes = made.library.Serialize();
        WriteFileAtomically(file, bytes);
        start = std::chrono::steady_clock::now();
        Calibration calibration = LoadCalibration(file);
        std::printf("Calibrated (%s) in %.3f s, saved %s (%.1f kB), read back in %.4f s\n", RunName(demoRun.run),
                    made.seconds, file.c_str(), bytes.size() / 1000.0, SecondsSince(start));
        calibration.seconds = made.seconds;
        const size_t incomplete = calibration.results().IncompleteColumns().size();
        if (incomplete > 0) std::printf("  %zu column(s) kept a single piece\n", incomplete);
        for (int32_t mode : demoRun.modes) {
            outcomes.push_back(EvaluateCorrection(calibration, demoRun.test, mode, flats, &dark.front()));
        }
        if (demoRun.run == RunKind::kSegmented) outcomes.push_back(EvaluateTwoPieces(calibration, flats));
    }
    std::printf("Held-out images read in %.3f s\n\n", loadSeconds);
    PrintComparisonTable(std::cout, outcomes);
    std::cout << "\n";
    PrintLevelTable(std::cout, flats, outcomes.front());
    PrintSensorFigures(std::cout, flats, outcomes.front(), kDarkImageName);

    start = std::chrono::steady_clock::now();
    const std::string picture = (std::filesystem::path(command.outFolder) / "report.png").string();
    // One curve per run in the picture (its plainest polynomial modes), the
    // table above has every mode.
    std::vector<CorrectionOutcome> drawn;
    for (const CorrectionOutcome& outcome : outcomes) {
        for (const char* label : {"current mode 0", "current mode 1", "previous mode 0", "previous mode 6",
                                  "segmented mode 1", "segmented 2-piece"}) {
            if (outcome.label == label) drawn.push_back(outcome);
        }
    }
    WritePictureAtomically(picture, DrawReport("Flat-field calibration of a simulated " +
                                                 std::to_string(options.width) + "-column CIS module",
                                             flats, drawn, 0,
                                             "simulated module, seed " + std::to_string(options.seed) +
                                                 "; drawn by cisffc demo, library " + vyrffc::LibraryVersion()));
    std::printf("\nReport drawn in %.3f s\n", SecondsSince(start));
    std::cout << "Picture: " << picture << "\n";

    // The production flow: the line corrects every frame from the file saved
    // once, never from the calibration folder.
    CorrectCommand correct;
    correct.calibrationFile = (std::filesystem::path(command.outFolder) / "current.ffcal").string();
    correct.arguments = {heldOutFolder};
    correct.outFolder = (std::filesystem::path(command.outFolder) / "corrected").string();
    correct.jobs = 0;
    std::cout << "\nOn the line: cisffc correct --calibration " << correct.calibrationFile << " " << heldOutFolder
              << " --out " << correct.outFolder << "\n";
    const int status = RunCorrect(correct);
    std::printf("Whole demo %.1f s\n", SecondsSince(demoStart));
    return status;
}

}  // namespace cisffc
