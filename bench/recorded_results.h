// What the benchmarks measured, kept by name so that the closing summary can
// set each figure beside its baseline from the same run.
#ifndef FFC_BENCH_RECORDED_RESULTS_H
#define FFC_BENCH_RECORDED_RESULTS_H

#include <algorithm>
#include <chrono>
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

// Times each iteration of `call`, which returns false on failure (the
// benchmark then stops with an error), and keeps the fastest, the one least
// disturbed by other load on a shared machine, as the counter best_ms.
template <class Call>
void TimeFastestIteration(benchmark::State& state, const Call& call) {
    double best = 1e300;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!call()) {
            state.SkipWithError("the timed call failed");
            break;
        }
        benchmark::ClobberMemory();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["best_ms"] = best * 1e3;
}

// The fastest iteration of a benchmark in seconds (its mean time when it kept
// none); 0 when it did not run.
double BestSeconds(const RecordingReporter& results, const std::string& name);

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
