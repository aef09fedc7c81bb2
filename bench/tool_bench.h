// cisffc correct on a production batch: 200 images of 7,296 x 2,000 from a
// saved calibration, each run a process of its own, against the floor of
// reading and writing the same images without correcting them; wall time and
// peak memory with one job and with every core, and the peak at a quarter of
// the images, which shows that memory does not grow with their number.
#ifndef FFC_BENCH_TOOL_BENCH_H
#define FFC_BENCH_TOOL_BENCH_H

#include <vector>

#include "recorded_results.h"

namespace ffc::bench {

void RegisterToolBenchmark();

std::vector<TargetCheck> PrintToolSummary(const RecordingReporter& results);

// The floor's process: "ffc_bench --copy-images IN OUT" reads every .bmp of
// the folder IN and writes it to the folder OUT, as the tool would but with
// no correction. Returns its exit status, or -1 when argv asks for no copy.
int CopyImagesMain(int argc, char** argv);

}  // namespace ffc::bench

#endif  // FFC_BENCH_TOOL_BENCH_H
