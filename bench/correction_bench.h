// Correction throughput of both test exports in every mode, beside the plain
// per-pixel rules and a memcpy of the same image.
#ifndef FFC_BENCH_CORRECTION_BENCH_H
#define FFC_BENCH_CORRECTION_BENCH_H

#include <vector>

#include "recorded_results.h"

namespace ffc::bench {

void RegisterCorrectionBenchmarks();

// Prints the table of ratios and returns the targets it checked.
std::vector<TargetCheck> PrintCorrectionSummary(const RecordingReporter& results);

// Releases the calibrated instances and images.
void ReleaseCorrectionFixture();

}  // namespace ffc::bench

#endif  // FFC_BENCH_CORRECTION_BENCH_H
