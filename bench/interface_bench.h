// The C++ interface: loading a saved calibration against calibrating from
// its folder, and correcting on every core against one core and memcpy.
#ifndef FFC_BENCH_INTERFACE_BENCH_H
#define FFC_BENCH_INTERFACE_BENCH_H

#include <string>
#include <vector>

#include "recorded_results.h"

namespace ffc::bench {

void RegisterInterfaceBenchmarks();

std::vector<TargetCheck> PrintInterfaceSummary(const RecordingReporter& results);

// The path of the module's calibration saved by the C++ interface; written on
// the first call.
const std::string& SavedCalibrationFile();

// Removes the saved calibration file.
void ReleaseInterfaceFixture();

}  // namespace ffc::bench

#endif  // FFC_BENCH_INTERFACE_BENCH_H
