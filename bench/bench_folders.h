// The simulated calibration folders the benchmarks read: written once, on
// first use, under one temporary folder that is removed when the program ends.
#ifndef FFC_BENCH_BENCH_FOLDERS_H
#define FFC_BENCH_BENCH_FOLDERS_H

#include <string>

#include "cis_simulator.h"

namespace ffc::bench {

// The folder (ending with a separator) holding one calibration image per
// level of `options`; written on the first call for these options.
const std::string& SimulatedFolder(const cissim::SimulatorOptions& options);

// An empty folder (ending with a separator) of this name under the same
// temporary folder, for a benchmark's own files.
std::string ScratchFolder(const std::string& name);

// Removes every folder written so far.
void RemoveSimulatedFolders();

}  // namespace ffc::bench

#endif  // FFC_BENCH_BENCH_FOLDERS_H
