// cisffc simulate: a simulated module written as a calibration folder, with
// held-out flat images and a dark image in its "heldout" subfolder.
#ifndef CISFFC_SIMULATE_COMMAND_H
#define CISFFC_SIMULATE_COMMAND_H

#include <string>
#include <vector>

#include "cis_simulator.h"

namespace CLI {
class App;
}  // namespace CLI

namespace cisffc {

struct SimulateCommand {
    std::string folder;
    cissim::SimulatorOptions simulator;
    int heldOut = 8;
    bool replace = false;
};

void AddSimulateOptions(CLI::App& command, SimulateCommand& options);
int RunSimulate(const SimulateCommand& command);

// Writes a simulated module: the calibration images in `folder` and held-out
// flat images in its "heldout" subfolder, which the "*.bmp" pattern of the
// calibration does not reach. Returns the held-out paths.
std::vector<std::string> WriteSimulatedModule(const SimulateCommand& command);

// The held-out subfolder of a module's folder, with its trailing slash.
std::string HeldOutFolder(const std::string& folder);

}  // namespace cisffc

#endif  // CISFFC_SIMULATE_COMMAND_H
