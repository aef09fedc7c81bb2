#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "commands.h"
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
    const std::vector<std::string> heldOut = WriteSimulatedModule(module);
    std::printf("  simulated in %.2f s: %s\n\n", SecondsSince(start), module.folder.c_str());

    start = std::chrono::steady_clock::now();
    const std::vector<FlatImage> flats = LoadFlatImages(heldOut);
    const double loadSeconds = SecondsSince(start);

    const std::vector<DemoRun> runs = {
        {RunKind::Current, TestFunction::Current, {0, 1, 6, kDefaultMode}},
        {RunKind::Previous, TestFunction::Previous, {0, 1, 5, 6, kDefaultMode}},
        {RunKind::Segmented, TestFunction::Current, {0, 1}},
    };
    std::vector<CorrectionOutcome> outcomes;
    for (const DemoRun& demoRun : runs) {
        CalibrationSettings settings;
        settings.run = demoRun.run;
        const Calibration calibration = Calibrate(module.folder + "/", settings);
        std::printf("Calibrated (%s) in %.3f s\n", RunName(demoRun.run), calibration.seconds);
        if (!calibration.succeeded) {
            std::printf("  the run reported failure: %zu incomplete column(s)\n", calibration.incompleteColumns().size());
        }
        for (int32_t mode : demoRun.modes) {
            outcomes.push_back(EvaluateCorrection(calibration, demoRun.test, mode, flats));
        }
        if (demoRun.run == RunKind::Segmented) outcomes.push_back(EvaluateTwoPieces(calibration, flats));
    }
    std::printf("Held-out images read in %.3f s\n\n", loadSeconds);
    PrintComparisonTable(std::cout, outcomes);
    std::cout << "\n";
    PrintLevelTable(std::cout, flats, outcomes.front());

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
    WriteImageAtomically(picture, DrawReport("Flat-field calibration of a simulated " +
                                                 std::to_string(options.width) + "-column CIS module",
                                             flats, drawn, 0));
    std::printf("\nReport drawn in %.3f s; whole demo %.1f s\n", SecondsSince(start), SecondsSince(demoStart));
    std::cout << "Picture: " << picture << "\n";
    return kExitSuccess;
}

}  // namespace cisffc
