#include "recorded_results.h"

#include <cmath>
#include <limits>

namespace ffc::bench {

void RecordingReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
        // Keyed by the registered name, without the suffixes the options add.
        RecordedRun& recorded = runs_[run.run_name.function_name];
        recorded.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (const auto& [name, counter] : run.counters) recorded.counters[name] = counter.value;
    }
}

double BestSeconds(const RecordingReporter& results, const std::string& name) {
    const RecordedRun* run = results.Find(name);
    if (run == nullptr) return 0.0;
    const auto found = run->counters.find("best_ms");
    return found == run->counters.end() ? run->seconds : found->second * 1e-3;
}

const RecordedRun* RecordingReporter::Find(const std::string& name) const {
    const auto found = runs_.find(name);
    return found == runs_.end() ? nullptr : &found->second;
}

double FittedExponent(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<double> lx;
    std::vector<double> ly;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (x[i] > 0.0 && y[i] > 0.0) {
            lx.push_back(std::log(x[i]));
            ly.push_back(std::log(y[i]));
        }
    }
    if (lx.size() < 2) return std::numeric_limits<double>::quiet_NaN();
    double mx = 0.0;
    double my = 0.0;
    for (size_t i = 0; i < lx.size(); ++i) {
        mx += lx[i];
        my += ly[i];
    }
    mx /= static_cast<double>(lx.size());
    my /= static_cast<double>(ly.size());
    double sxy = 0.0;
    double sxx = 0.0;
    for (size_t i = 0; i < lx.size(); ++i) {
        sxy += (lx[i] - mx) * (ly[i] - my);
        sxx += (lx[i] - mx) * (lx[i] - mx);
    }
    return sxx > 0.0 ? sxy / sxx : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace ffc::bench
