#include "simulate_command.h"

#include <filesystem>
#include <iostream>
#include <random>

#include <CLI/CLI.hpp>

#include "images.h"
#include "platform.h"
#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

// --replace removes only what a simulation writes: *.bmp files and the
// held-out folder of them.
bool HoldsOnlyAModule(const fs::path& folder) {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        const fs::path relative = entry.path().lexically_relative(folder);
        const bool heldOutFolder = entry.is_directory() && relative == "heldout";
        const bool image = entry.is_regular_file() && entry.path().extension() == ".bmp" &&
                           (relative.parent_path().empty() || relative.parent_path() == "heldout");
        if (!heldOutFolder && !image) return false;
    }
    return !error;
}

// The folder the module goes to, refused when it names no new folder or holds
// what --replace may not remove.
fs::path CheckedTarget(const SimulateCommand& command) {
    if (command.simulator.chips > command.simulator.width) FailUsage("--chips: more chips than columns");
    fs::path target = fs::path(command.folder).lexically_normal();
    if (target.filename().empty()) target = target.parent_path();  // "DIR/" names DIR itself
    std::error_code error;
    if (target.empty() || target.filename() == "." || target.filename() == ".." || target == target.root_path()) {
        FailUsage("name a new folder for the simulated module, not " + command.folder);
    }
    if (fs::exists(target) && !fs::is_empty(target, error)) {
        if (!command.replace) {
            FailUsage("the folder " + command.folder + " already holds files (use --replace to overwrite it)");
        }
        if (!HoldsOnlyAModule(target)) {
            FailUsage("the folder " + command.folder + " holds more than a simulated module; --replace leaves it be");
        }
    }
    return target;
}

}  // namespace

std::string HeldOutFolder(const std::string& folder) { return (fs::path(folder) / "heldout").string() + "/"; }

void AddSimulateOptions(CLI::App& command, SimulateCommand& options) {
    command.add_option("DIR", options.folder, "Folder to write")->required();
    command.add_option("--width", options.simulator.width, "Sensor columns")
        ->capture_default_str()->check(CLI::Range(16, 1 << 16));
    command.add_option("--height", options.simulator.height, "Rows per image")
        ->capture_default_str()->check(CLI::Range(1, 4096));
    command.add_option("--levels", options.simulator.levels, "Calibration light levels")
        ->capture_default_str()->check(CLI::Range(1, 1000));
    command.add_option("--chips", options.simulator.chips, "Sensor chips side by side")
        ->capture_default_str()->check(CLI::Range(1, 1000));
    command.add_option("--dark-columns", options.simulator.darkColumns, "Columns that stay 0 in dim light")
        ->capture_default_str()->check(CLI::Range(0, 1 << 16));
    command.add_option("--seed", options.simulator.seed, "Seed of the module and its noise")
        ->capture_default_str();
    command.add_option("--heldout", options.heldOut, "Held-out flat images")
        ->capture_default_str()->check(CLI::Range(0, 1000));
    command.add_flag("--replace", options.replace, "Replace DIR when it already holds files");
}

std::vector<std::string> WriteSimulatedModule(const SimulateCommand& command) {
    const cissim::SimulatorOptions& options = command.simulator;
    const fs::path target = CheckedTarget(command);
    // The module is written beside the target and moved into place whole; the
    // folder it goes into must be there already, as for every other output.
    std::error_code error;
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(parent, error)) FailRun("cannot write " + command.folder + ": the folder " +
                                                  parent.string() + " does not exist");
    const fs::path temporary =
        parent / ("." + target.filename().string() + ".tmp" + std::to_string(std::random_device{}()));
    // An interrupt waits until the module is in place or cleared away.
    WithoutInterruption([&] {
        fs::remove_all(temporary, error);
        try {
            cissim::WriteCalibrationFolder(temporary.string() + "/", options);
            cissim::WriteHeldOutImages(HeldOutFolder(temporary.string()), options, command.heldOut);
            cissim::WriteDarkImage(HeldOutFolder(temporary.string()), options);
        } catch (const std::exception& failure) {
            fs::remove_all(temporary, error);
            FailRun("cannot write the simulated module: " + std::string(failure.what()));
        }
        fs::remove_all(target, error);
        fs::rename(temporary, target, error);
        if (error) {
            fs::remove_all(temporary, error);
            FailRun("cannot write the folder " + command.folder);
        }
    });
    return ListBitmaps(HeldOutFolder(target.string()), false);
}

int RunSimulate(const SimulateCommand& command) {
    const std::vector<std::string> heldOut = WriteSimulatedModule(command);
    const cissim::SimulatorOptions& options = command.simulator;
    std::cout << "Wrote " << ListBitmaps(command.folder).size() << " calibration images of " << options.width << "x"
              << options.height << " (" << options.chips << " chips, seed " << options.seed << ") to "
              << command.folder << "\n"
              << "and " << heldOut.size() << " held-out flat images and a dark image (" << kDarkImageName << ") to "
              << HeldOutFolder(command.folder) << "\n";
    return kExitSuccess;
}

}  // namespace cisffc
