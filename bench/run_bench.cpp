#include "run_bench.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <cmath>
#include <cstdio>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "bench_folders.h"
#include "child_measure.h"

namespace ffc::bench {

namespace {

constexpr uint32_t kDigits = 6;
constexpr int kGroupWidth = 64;
constexpr double kMiB = 1024.0 * 1024.0;

// Where the targets are set: the time ratio at one size, the memory bound at
// the largest.
constexpr int kTargetWidth = 7296;
constexpr int kTargetImages = 64;
constexpr int kTargetHeight = 100;
constexpr int kMemoryWidth = 14592;
constexpr int kMemoryImages = 256;
// The low/high runs at both image counts of the target size; the segmented
// run, bounded by the six factorizations of each column's own abscissae, at
// the larger one.
constexpr double kMaxLowHighOverRead = 1.25;
constexpr double kMaxSegmentedOverRead = 2.0;
const int kLowHighTargetImages[] = {16, kTargetImages};
constexpr double kMemoryAllowance = 64.0 * kMiB;
constexpr int kMemoryImageMultiple = 4;
constexpr double kLinearExponent = 1.2;

const int kWidths[] = {1024, 7296, 14592};
const int kImageCounts[] = {16, 64, 256};
const int kHeights[] = {16, 100};

enum class Work { kRead, kCurrent, kPrevious, kSegmented };
const Work kWorks[] = {Work::kRead, Work::kCurrent, Work::kPrevious, Work::kSegmented};

const char* WorkName(Work work) {
    switch (work) {
        case Work::kRead: return "imread";
        case Work::kCurrent: return "NewNew";
        case Work::kPrevious: return "New";
        case Work::kSegmented: return "autosegment";
    }
    return "?";
}

struct FolderSize {
    int width;
    int images;
    int height;
};

cissim::SimulatorOptions OptionsOf(const FolderSize& size) {
    cissim::SimulatorOptions options;
    options.width = size.width;
    options.height = size.height;
    options.levels = size.images;
    return options;
}

std::string BenchName(Work work, const FolderSize& size) {
    return std::string("run_") + WorkName(work) + "/w:" + std::to_string(size.width) +
           "/n:" + std::to_string(size.images) + "/h:" + std::to_string(size.height);
}

// The host's usual parameters: the middle fifth of the line as reference for
// the low/high runs, every column for the segmented run (it calibrates only
// the listed columns), consecutive groups of 64 columns.
std::vector<int32_t> ReferenceColumns(Work work, int width) {
    const int first = work == Work::kSegmented ? 0 : 2 * width / 5;
    const int end = work == Work::kSegmented ? width : 3 * width / 5;
    std::vector<int32_t> columns;
    for (int c = first; c < end; ++c) columns.push_back(c);
    return columns;
}

std::vector<std::vector<int32_t>> ColumnGroups(int width) {
    std::vector<std::vector<int32_t>> groups;
    for (int first = 0; first + kGroupWidth <= width; first += kGroupWidth) {
        groups.emplace_back();
        for (int c = first; c < first + kGroupWidth; ++c) groups.back().push_back(c);
    }
    return groups;
}

// The least any run does: list the folder and read every file.
bool ReadEveryImage(const std::string& folder) {
    std::vector<cv::String> files;
    cv::glob(folder + "*.bmp", files, false);
    for (const cv::String& file : files) {
        if (cv::imread(file, cv::IMREAD_GRAYSCALE).empty()) return false;
    }
    return !files.empty();
}

// One call of the work on a fresh instance; `timed` brackets the call itself.
template <class Timed>
bool DoWork(Work work, const FolderSize& size, const std::string& folder, Timed timed) {
    if (work == Work::kRead) return timed([&] { return ReadEveryImage(folder); });
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    SetFlatFieldCorrectionParameters(instance, folder, ReferenceColumns(work, size.width), size.height, size.width);
    const std::vector<std::vector<int32_t>> groups = ColumnGroups(size.width);
    const bool done = timed([&] {
        switch (work) {
            case Work::kCurrent:
                return RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, kDigits, groups);
            case Work::kPrevious:
                return RunFlatFieldCorrectionTool_lowhigh_map_simple_New(instance, kDigits, groups);
            case Work::kSegmented:
                // False only says that some column got no two pieces; every
                // result is written all the same.
                RunFlatFieldCorrectionTool_autosegment(instance, kDigits, groups);
                return true;
            case Work::kRead:
                break;
        }
        return false;
    });
    DestroyFlatFieldCorrectionVyrInstance(instance);
    return done;
}

// Peak memory of one call in a forked child, measured once per benchmark:
// the child starts from this process's state, so the mark is the call's own.
int64_t PeakBytes(Work work, const FolderSize& size, const std::string& folder) {
    static std::map<std::string, int64_t> measured;
    const std::string key = BenchName(work, size);
    const auto found = measured.find(key);
    if (found != measured.end()) return found->second;
    const ChildMeasurement child = RunInChild([&] {
        ChildMeasurement result;
        result.ok = DoWork(work, size, folder, [&](const auto& run) {
            const int64_t start = StartMemoryMark();
            const bool done = run();
            result.peakBytes = PeakAboveMark(start);
            return done && result.peakBytes >= 0;
        });
        return result;
    });
    const int64_t peak = child.ok ? child.peakBytes : -1;
    measured[key] = peak;
    return peak;
}

// Time in this process, on a fresh instance per iteration (the first run on
// an instance in a process that has run before: no page of the heap is cold).
void TimeWork(benchmark::State& state, Work work, FolderSize size) {
    const std::string& folder = SimulatedFolder(OptionsOf(size));
    // A run's iterations alternate with reads of its folder, so that its ratio
    // to the floor comes from the same moments of a shared, noisy machine.
    const bool paired = work != Work::kRead;
    // The fastest iteration of each is the one least disturbed by other load.
    double workSeconds = 1e300;
    double readSeconds = 1e300;
    for (auto _ : state) {
        double seconds = 0.0;
        auto timed = [&](const auto& run) {
            const auto start = std::chrono::steady_clock::now();
            const bool result = run();
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            return result;
        };
        const bool read = !paired || DoWork(Work::kRead, size, folder, timed);
        if (paired) readSeconds = std::min(readSeconds, seconds);
        if (!read || !DoWork(work, size, folder, timed)) {
            state.SkipWithError("the measured work failed");
            break;
        }
        workSeconds = std::min(workSeconds, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["best_ms"] = workSeconds * 1e3;
    if (paired) state.counters["over_imread"] = workSeconds / readSeconds;
    const int64_t peak = PeakBytes(work, size, folder);
    if (peak < 0) state.SkipWithError("the memory measurement failed");
    state.counters["peak_MiB"] = static_cast<double>(peak) / kMiB;
    state.counters["image_MiB"] = static_cast<double>(size.width) * size.height / kMiB;
}

std::vector<FolderSize> Sizes(bool quick) {
    if (quick) {
        return {{1024, kTargetImages, kTargetHeight},
                {kTargetWidth, 16, kTargetHeight},
                {kTargetWidth, kTargetImages, kTargetHeight}};
    }
    std::vector<FolderSize> sizes;
    for (int height : kHeights) {
        for (int width : kWidths) {
            for (int images : kImageCounts) sizes.push_back({width, images, height});
        }
    }
    return sizes;
}

std::vector<FolderSize>& RegisteredSizes() {
    static std::vector<FolderSize> sizes;
    return sizes;
}

const RecordedRun* Find(const RecordingReporter& results, Work work, const FolderSize& size) {
    return results.Find(BenchName(work, size));
}

double SecondsOf(const RecordingReporter& results, Work work, const FolderSize& size) {
    return BestSeconds(results, BenchName(work, size));
}

double PeakOf(const RecordingReporter& results, Work work, const FolderSize& size) {
    const RecordedRun* run = Find(results, work, size);
    if (run == nullptr) return 0.0;
    const auto found = run->counters.find("peak_MiB");
    return found == run->counters.end() ? 0.0 : found->second * kMiB;
}

// A run's time over the reads that alternated with it.
double OverRead(const RecordingReporter& results, Work work, const FolderSize& size) {
    const RecordedRun* run = Find(results, work, size);
    if (run == nullptr) return 0.0;
    const auto found = run->counters.find("over_imread");
    return found == run->counters.end() ? 0.0 : found->second;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void PrintSizeTable(const RecordingReporter& results) {
    std::printf("\nCalibration runs against reading their images (fastest iterations; ratio: run over the reads alternated with it;\n"
                "peak resident memory above the start of the call, MiB)\n");
    std::printf("%6s %5s %4s %10s", "width", "imgs", "rows", "imread ms");
    for (Work work : kWorks) {
        if (work != Work::kRead) std::printf(" %13s %6s", (std::string(WorkName(work)) + " ms").c_str(), "ratio");
    }
    std::printf(" %8s", "img MiB");
    for (Work work : kWorks) std::printf(" %11s", (std::string(WorkName(work)) + " MiB").c_str());
    std::printf("\n");
    for (const FolderSize& size : RegisteredSizes()) {
        if (Find(results, Work::kRead, size) == nullptr) continue;
        const double read = SecondsOf(results, Work::kRead, size);
        std::printf("%6d %5d %4d %10.1f", size.width, size.images, size.height, read * 1e3);
        for (Work work : kWorks) {
            if (work == Work::kRead) continue;
            std::printf(" %13.1f %6.2f", SecondsOf(results, work, size) * 1e3, OverRead(results, work, size));
        }
        std::printf(" %8.2f", static_cast<double>(size.width) * size.height / kMiB);
        for (Work work : kWorks) std::printf(" %11.1f", PeakOf(results, work, size) / kMiB);
        std::printf("\n");
    }
}

// Exponents of time and memory against one size parameter, the others fixed.
struct Growth {
    double time = NAN;
    double memory = NAN;
};

template <class Vary>
Growth GrowthOf(const RecordingReporter& results, Work work, const std::vector<FolderSize>& sizes, Vary vary) {
    std::vector<double> x;
    std::vector<double> seconds;
    std::vector<double> peaks;
    for (const FolderSize& size : sizes) {
        if (Find(results, work, size) == nullptr) continue;
        x.push_back(vary(size));
        seconds.push_back(SecondsOf(results, work, size));
        peaks.push_back(PeakOf(results, work, size));
    }
    return {FittedExponent(x, seconds), FittedExponent(x, peaks)};
}

void PrintGrowth(const RecordingReporter& results, std::vector<TargetCheck>& checks) {
    std::printf("\nGrowth: fitted exponent e of cost ~ size^e (least squares on log-log)\n");
    std::printf("%-12s %-28s %8s %8s\n", "work", "varied", "time e", "memory e");
    for (int height : kHeights) {
        std::vector<FolderSize> byImages;
        std::vector<FolderSize> byWidth;
        for (int images : kImageCounts) byImages.push_back({kTargetWidth, images, height});
        for (int width : kWidths) byWidth.push_back({width, kTargetImages, height});
        for (Work work : kWorks) {
            const Growth images = GrowthOf(results, work, byImages, [](const FolderSize& s) { return s.images; });
            const Growth width = GrowthOf(results, work, byWidth, [](const FolderSize& s) { return s.width; });
            const std::string atImages = "images (w 7296, h " + std::to_string(height) + ")";
            const std::string atWidth = "width (64 images, h " + std::to_string(height) + ")";
            if (std::isnan(images.time) && std::isnan(width.time)) continue;
            std::printf("%-12s %-28s %8.2f %8.2f\n", WorkName(work), atImages.c_str(), images.time, images.memory);
            std::printf("%-12s %-28s %8.2f %8.2f\n", WorkName(work), atWidth.c_str(), width.time, width.memory);
            if (work == Work::kRead || height != kTargetHeight) continue;
            for (const auto& [what, growth] : {std::pair{atImages, images}, std::pair{atWidth, width}}) {
                if (std::isnan(growth.time)) continue;
                checks.push_back({std::string(WorkName(work)) + ": time linear in " + what,
                                  growth.time <= kLinearExponent, Format("exponent %.2f", growth.time)});
            }
        }
    }
}

}  // namespace

void RegisterRunBenchmarks(bool quick) {
    RegisteredSizes() = Sizes(quick);
    for (const FolderSize& size : RegisteredSizes()) {
        for (Work work : kWorks) {
            benchmark::RegisterBenchmark(BenchName(work, size).c_str(), TimeWork, work, size)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.3);
        }
    }
}

std::vector<TargetCheck> PrintRunSummary(const RecordingReporter& results) {
    std::vector<TargetCheck> checks;
    PrintSizeTable(results);

    const FolderSize largest{kMemoryWidth, kMemoryImages, kTargetHeight};
    const double allowance = kMemoryAllowance + kMemoryImageMultiple * static_cast<double>(kMemoryWidth) *
                                                    kTargetHeight;
    for (Work work : kWorks) {
        if (work == Work::kRead) continue;
        const bool segmented = work == Work::kSegmented;
        for (int images : kLowHighTargetImages) {
            if (segmented && images != kTargetImages) continue;
            const double bound = segmented ? kMaxSegmentedOverRead : kMaxLowHighOverRead;
            const double overRead = OverRead(results, work, {kTargetWidth, images, kTargetHeight});
            if (overRead <= 0.0) continue;
            checks.push_back({std::string(WorkName(work)) + Format(": at most %.2fx imread at 7296 x 100, ", bound) +
                                  std::to_string(images) + " images",
                              overRead <= bound, Format("%.2fx", overRead)});
        }
        if (Find(results, work, largest) != nullptr) {
            const double peak = PeakOf(results, work, largest);
            checks.push_back({std::string(WorkName(work)) + ": peak below 64 MiB + 4 images at 14592 x 100, 256 images",
                              peak < allowance, Format("%.1f MiB", peak / kMiB) + Format(" of %.1f MiB", allowance / kMiB)});
        }
    }
    PrintGrowth(results, checks);
    return checks;
}

}  // namespace ffc::bench
