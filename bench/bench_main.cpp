// The benchmark suite. Every figure is printed beside its baseline from the
// same run, and the closing summary says which targets were met.
//
//   ffc_bench [--quick] [Google Benchmark flags, e.g. --benchmark_filter=correct]
//
// --quick measures the runs only at the sizes the targets name and two small
// ones (the correction benchmarks are the same).
#include <cstdio>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_folders.h"
#include "correction_bench.h"
#include "interface_bench.h"
#include "recorded_results.h"
#include "run_bench.h"
#include "tool_bench.h"

namespace {

bool TakeFlag(int& argc, char** argv, const char* flag) {
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0) {
            found = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return found;
}

void PrintTargets(const std::vector<ffc::bench::TargetCheck>& checks) {
    int met = 0;
    std::printf("\nTargets\n");
    for (const ffc::bench::TargetCheck& check : checks) {
        met += check.met ? 1 : 0;
        std::printf("  [%s] %s: %s\n", check.met ? "met" : "MISSED", check.target.c_str(), check.measured.c_str());
    }
    std::printf("%d of %zu targets met\n", met, checks.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int copied = ffc::bench::CopyImagesMain(argc, argv);
    if (copied >= 0) return copied;
    const bool quick = TakeFlag(argc, argv, "--quick");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    ffc::bench::RegisterCorrectionBenchmarks();
    ffc::bench::RegisterRunBenchmarks(quick);
    ffc::bench::RegisterInterfaceBenchmarks();
    ffc::bench::RegisterToolBenchmark();

    ffc::bench::RecordingReporter reporter;
    int status = 0;
    try {
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ffc_bench: %s\n", error.what());
        status = 1;
    }
    std::vector<ffc::bench::TargetCheck> checks = ffc::bench::PrintCorrectionSummary(reporter);
    const std::vector<ffc::bench::TargetCheck> runChecks = ffc::bench::PrintRunSummary(reporter);
    checks.insert(checks.end(), runChecks.begin(), runChecks.end());
    const std::vector<ffc::bench::TargetCheck> interfaceChecks = ffc::bench::PrintInterfaceSummary(reporter);
    checks.insert(checks.end(), interfaceChecks.begin(), interfaceChecks.end());
    const std::vector<ffc::bench::TargetCheck> toolChecks = ffc::bench::PrintToolSummary(reporter);
    checks.insert(checks.end(), toolChecks.begin(), toolChecks.end());
    PrintTargets(checks);

    ffc::bench::ReleaseInterfaceFixture();
    ffc::bench::ReleaseCorrectionFixture();
    ffc::bench::RemoveSimulatedFolders();
    benchmark::Shutdown();
    return status;
}
