// Correction throughput of both test exports in every mode, beside a memcpy
// and a single-table cv::LUT of the same image timed in the same rounds, and
// beside the plain per-pixel rules.
#ifndef FFC_BENCH_CORRECTION_BENCH_H
#define FFC_BENCH_CORRECTION_BENCH_H

#include <vector>

#include <opencv2/core/mat.hpp>

#include "cis_simulator.h"
#include "recorded_results.h"

namespace ffc::bench {

void RegisterCorrectionBenchmarks();

// Prints the table of ratios and returns the targets it checked.
std::vector<TargetCheck> PrintCorrectionSummary(const RecordingReporter& results);

// Releases the calibrated instances and images.
void ReleaseCorrectionFixture();

// The simulated module the correction benchmarks calibrate on, and their
// 7,296 x 2,048 camera image of it.
cissim::SimulatorOptions CalibrationOptions();
const cv::Mat& TallScene();

}  // namespace ffc::bench

#endif  // FFC_BENCH_CORRECTION_BENCH_H
