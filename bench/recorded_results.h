// What the benchmarks measured, kept by name so that the closing summary can
// set each figure beside its baseline from the same run.
#ifndef FFC_BENCH_RECORDED_RESULTS_H
#define FFC_BENCH_RECORDED_RESULTS_H

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace ffc::bench {

struct RecordedRun {
    double seconds = 0.0;  // real time per iteration
    std::map<std::string, double> counters;
};

// The console report as usual, and every result kept for the summary.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // The result of a benchmark by its name; null when it did not run.
    const RecordedRun* Find(const std::string& name) const;

private:
    std::map<std::string, RecordedRun> runs_;
};

// A target and whether this run met it.
struct TargetCheck {
    std::string target;
    bool met = false;
    std::string measured;
};

// Slope of log(y) against log(x) by least squares: the exponent of a power
// law through the points. NaN with fewer than two usable points.
double FittedExponent(const std::vector<double>& x, const std::vector<double>& y);

}  // namespace ffc::bench

#endif  // FFC_BENCH_RECORDED_RESULTS_H
