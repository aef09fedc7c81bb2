// The three calibration runs on simulated folders, each beside the floor of
// reading the same files with cv::imread: time, peak memory and how both grow
// with the number of images and the width.
#ifndef FFC_BENCH_RUN_BENCH_H
#define FFC_BENCH_RUN_BENCH_H

#include <vector>

#include "recorded_results.h"

namespace ffc::bench {

// `quick` keeps the sizes the targets name and a few small ones.
void RegisterRunBenchmarks(bool quick);

std::vector<TargetCheck> PrintRunSummary(const RecordingReporter& results);

}  // namespace ffc::bench

#endif  // FFC_BENCH_RUN_BENCH_H
