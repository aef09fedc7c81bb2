// The C++ interface: loading a saved calibration against calibrating from
// its folder, and correcting on every core against one core and memcpy.
#ifndef FFC_BENCH_INTERFACE_BENCH_H
#define FFC_BENCH_INTERFACE_BENCH_H

#include <vector>

#include "recorded_results.h"

namespace ffc::bench {

void RegisterInterfaceBenchmarks();

std::vector<TargetCheck> PrintInterfaceSummary(const RecordingReporter& results);

// Removes the saved calibration file.
void ReleaseInterfaceFixture();

}  // namespace ffc::bench

#endif  // FFC_BENCH_INTERFACE_BENCH_H
