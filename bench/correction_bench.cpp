#include "correction_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "bench_folders.h"
#include "cis_simulator.h"
#include "instance/instance.h"
#include "support/plain_correction.h"

namespace ffc::bench {

cissim::SimulatorOptions CalibrationOptions() {
    cissim::SimulatorOptions options;
    options.width = 7296;
    options.height = 100;
    options.levels = 64;
    return options;
}

namespace {

constexpr int kWidth = 7296;
constexpr int kTallRows = 2048;
constexpr int kShortRows = 16;
constexpr uint32_t kDigits = 6;
constexpr int kGroupWidth = 64;
constexpr int kDefaultMode = 2;  // any mode not listed selects the default correction

// The highest raw value the scene may reach: the noise stays well below 255,
// so mode 4 finds no hole.
constexpr double kSceneCeiling = 240.0;

const int kModes[] = {0, 1, 4, 5, 6, kDefaultMode};

struct TestExport {
    const char* name;
    bool (*function)(FlatFieldCorrectionInstance*, const cv::Mat*, cv::Mat*, int32_t);
    Generation generation;
};

const TestExport kExports[] = {
    {"NewNew", TestFlatFieldCorrectionTool_NewNew, Generation::kCurrent},
    {"Previous", TestFlatFieldCorrectionTool, Generation::kPrevious},
};

// The benchmarks own their instances as values, as the library's own code does.
std::unique_ptr<FlatFieldCorrectionInstance> Calibrate(bool currentGeneration) {
    const cissim::SimulatorOptions options = CalibrationOptions();
    auto instance = std::make_unique<FlatFieldCorrectionInstance>();
    FlatFieldCorrectionInstance* raw = instance.get();
    std::vector<int32_t> reference;
    for (int c = 2 * kWidth / 5; c < 3 * kWidth / 5; ++c) reference.push_back(c);
    std::vector<std::vector<int32_t>> groups;
    for (int first = 0; first + kGroupWidth <= kWidth; first += kGroupWidth) {
        groups.emplace_back();
        for (int c = first; c < first + kGroupWidth; ++c) groups.back().push_back(c);
    }
    if (!SetFlatFieldCorrectionParameters(raw, SimulatedFolder(options), reference, options.height, kWidth)) {
        throw std::runtime_error("cannot set the calibration folder");
    }
    const bool calibrated = currentGeneration
                                ? RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(raw, kDigits, groups)
                                : RunFlatFieldCorrectionTool_lowhigh_map_simple_New(raw, kDigits, groups);
    if (!calibrated) throw std::runtime_error("the calibration run failed");
    return instance;
}

// The brightest light at which no column's mean passes the ceiling.
double BrightestSceneLight(const cissim::CisCamera& camera) {
    double low = 0.0;
    double high = 512.0;
    for (int step = 0; step < 40; ++step) {
        const double light = 0.5 * (low + high);
        double brightest = 0.0;
        for (double value : cissim::ExpectedColumnValues(camera, light)) brightest = std::max(brightest, value);
        (brightest < kSceneCeiling ? low : high) = light;
    }
    return low;
}

// A camera image of the module: bands of rows from dark (where the dark
// columns read 0) up to a bright gray, without any raw 255.
cv::Mat SceneImage(int rows, int bands) {
    cissim::SimulatorOptions options = CalibrationOptions();
    options.height = rows / bands;
    const cissim::CisCamera camera = cissim::MakeCamera(options);
    const double brightest = BrightestSceneLight(camera);
    std::vector<cv::Mat> bandImages;
    for (int b = 0; b < bands; ++b) {
        const double light = brightest * b / (bands - 1);
        bandImages.push_back(cissim::RenderFlatImage(camera, light, 7000 + b));
    }
    cv::Mat image;
    cv::vconcat(bandImages, image);
    if (cv::countNonZero(image == 255) != 0) throw std::runtime_error("the scene image holds raw 255");
    return image;
}

struct CorrectionFixture {
    std::unique_ptr<FlatFieldCorrectionInstance> current = Calibrate(true);
    std::unique_ptr<FlatFieldCorrectionInstance> previous = Calibrate(false);
    cv::Mat tall = SceneImage(kTallRows, 32);
    cv::Mat shortImage = SceneImage(kShortRows, kShortRows);

    FlatFieldCorrectionInstance* InstanceOf(Generation generation) const {
        return generation == Generation::kCurrent ? current.get() : previous.get();
    }
    const cv::Mat& ImageOf(int rows) const { return rows == kTallRows ? tall : shortImage; }
};

std::unique_ptr<CorrectionFixture>& FixtureSlot() {
    static std::unique_ptr<CorrectionFixture> fixture;
    return fixture;
}

const CorrectionFixture& Fixture() {
    std::unique_ptr<CorrectionFixture>& slot = FixtureSlot();
    if (!slot) slot = std::make_unique<CorrectionFixture>();
    return *slot;
}

std::string ModeName(int mode) { return mode == kDefaultMode ? "default" : std::to_string(mode); }

std::string CorrectName(const char* kind, const TestExport& test, int mode, int rows) {
    return std::string(kind) + "/" + test.name + "/mode:" + ModeName(mode) + "/rows:" + std::to_string(rows);
}

void SetThroughput(benchmark::State& state, const cv::Mat& image) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.total()));
}

// The plain rules, timed; their output is then checked against the export's.
void TimePlainCorrection(benchmark::State& state, const TestExport& test, int mode, int rows) {
    const CorrectionFixture& fixture = Fixture();
    const cv::Mat& input = fixture.ImageOf(rows);
    FlatFieldCorrectionInstance* instance = fixture.InstanceOf(test.generation);
    cv::Mat output(input.size(), CV_8UC1);
    TimeFastestIteration(state, [&] { return PlainCorrectImage(instance, &input, &output, mode, test.generation); });
    SetThroughput(state, input);
    cv::Mat fast(input.size(), CV_8UC1);
    test.function(instance, &input, &fast, mode);
    if (cv::countNonZero(fast != output) != 0) state.SkipWithError("the export's output differs from the plain rules");
}

std::string RoundsName(int rows) { return "correct_rounds/rows:" + std::to_string(rows); }

std::string ItemKey(const std::string& item) { return item + "_ms"; }

std::string CorrectionItem(const TestExport& test, int mode) {
    return std::string(test.name) + "/mode:" + ModeName(mode);
}

constexpr const char* kMemcpyItem = "memcpy";
constexpr const char* kLutItem = "cv::LUT";

// A table for cv::LUT that changes most values, as a correction does.
cv::Mat SingleTable() {
    cv::Mat table(1, 256, CV_8UC1);
    for (int v = 0; v < 256; ++v) table.at<uint8_t>(v) = static_cast<uint8_t>(std::min(255, v * 5 / 4 + 3));
    return table;
}

struct TimedItem {
    std::string name;
    std::function<bool()> call;
    double best = 1e300;
};

// Every round times memcpy, a single-threaded cv::LUT with one table and each
// correction once, in turn, so that a slow spell of the machine hits them
// alike; each item keeps its fastest round as a counter.
void TimeRounds(benchmark::State& state, int rows) {
    const CorrectionFixture& fixture = Fixture();
    const cv::Mat& input = fixture.ImageOf(rows);
    const cv::Mat table = SingleTable();
    cv::Mat output(input.size(), CV_8UC1);
    std::vector<TimedItem> items;
    items.push_back({kMemcpyItem, [&] {
                         std::memcpy(output.data, input.data, input.total());
                         return true;
                     }});
    items.push_back({kLutItem, [&] {
                         cv::LUT(input, table, output);
                         return true;
                     }});
    for (const TestExport& test : kExports) {
        for (int mode : kModes) {
            items.push_back({CorrectionItem(test, mode), [&, mode] {
                                 return test.function(fixture.InstanceOf(test.generation), &input, &output, mode);
                             }});
        }
    }
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    bool failed = false;
    for (auto _ : state) {
        for (TimedItem& item : items) {
            const auto start = std::chrono::steady_clock::now();
            failed = !item.call();
            benchmark::ClobberMemory();
            item.best =
                std::min(item.best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            if (failed) {
                state.SkipWithError(("the timed call failed: " + item.name).c_str());
                break;
            }
        }
        if (failed) break;
    }
    cv::setNumThreads(threads);
    for (const TimedItem& item : items) state.counters[ItemKey(item.name)] = item.best * 1e3;
    SetThroughput(state, input);
}

// The fastest round of an item in seconds; 0 when the rounds did not run.
double RoundSeconds(const RecordingReporter& results, int rows, const std::string& item) {
    const RecordedRun* run = results.Find(RoundsName(rows));
    if (run == nullptr) return 0.0;
    const auto found = run->counters.find(ItemKey(item));
    return found == run->counters.end() ? 0.0 : found->second * 1e-3;
}

std::string Ratio(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace

void RegisterCorrectionBenchmarks() {
    for (int rows : {kTallRows, kShortRows}) {
        benchmark::RegisterBenchmark(RoundsName(rows).c_str(), TimeRounds, rows)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(rows == kTallRows ? 21 : 201);
        for (const TestExport& test : kExports) {
            for (int mode : kModes) {
                benchmark::RegisterBenchmark(CorrectName("correct_plain", test, mode, rows).c_str(),
                                             TimePlainCorrection, test, mode, rows)
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.5);
            }
        }
    }
}

std::vector<TargetCheck> PrintCorrectionSummary(const RecordingReporter& results) {
    std::vector<TargetCheck> checks;
    std::printf("\nCorrection of a %d-column image, one thread (fastest of the interleaved rounds; plain timed apart)\n",
                kWidth);
    std::printf("%-9s %-8s %6s %10s %10s %13s %13s %13s\n", "export", "mode", "rows", "export ms", "plain ms",
                "export/memcpy", "export/LUT", "plain/export");
    for (int rows : {kTallRows, kShortRows}) {
        const double copy = RoundSeconds(results, rows, kMemcpyItem);
        const double lut = RoundSeconds(results, rows, kLutItem);
        if (copy <= 0.0 || lut <= 0.0) continue;
        std::printf("%-9s %-8s %6d memcpy %.3f ms, single-table cv::LUT %.3f ms\n", "baseline", "", rows, copy * 1e3,
                    lut * 1e3);
        for (const TestExport& test : kExports) {
            for (int mode : kModes) {
                const double fast = RoundSeconds(results, rows, CorrectionItem(test, mode));
                const double plain = BestSeconds(results, CorrectName("correct_plain", test, mode, rows));
                if (fast <= 0.0) continue;
                const double speedup = plain / fast;
                const double overCopy = fast / copy;
                const double overLut = fast / lut;
                std::printf("%-9s %-8s %6d %10.3f %10.3f %13.2f %13.2f %13.1f\n", test.name,
                            ModeName(mode).c_str(), rows, fast * 1e3, plain * 1e3, overCopy, overLut, speedup);
                const std::string where = std::string(test.name) + " mode " + ModeName(mode);
                // Mode 4 and the previous generation's mode 5 map through the
                // column tables: the bound on plain applies to the others.
                const bool polynomial = mode != 4 && !(mode == 5 && test.generation == Generation::kPrevious);
                if (rows == kTallRows) {
                    if (polynomial && plain > 0.0) {
                        checks.push_back({where + ", 7296 x 2048: at least 20x faster than plain", speedup >= 20.0,
                                          Ratio(speedup) + "x"});
                    }
                    checks.push_back({where + ", 7296 x 2048: at most 16x memcpy", overCopy <= 16.0,
                                      Ratio(overCopy) + "x"});
                    // Mode 4 also fills holes, which a single table has none of.
                    const double lutBound = mode == 4 ? 1.5 : 1.0;
                    checks.push_back({where + ", 7296 x 2048: at most " + Ratio(lutBound) +
                                          "x single-threaded cv::LUT",
                                      overLut <= lutBound, Ratio(overLut) + "x"});
                } else if (polynomial && plain > 0.0) {
                    checks.push_back({where + ", 7296 x 16: no slower than plain", fast <= plain,
                                      Ratio(speedup) + "x faster"});
                }
            }
        }
    }
    return checks;
}

void ReleaseCorrectionFixture() { FixtureSlot().reset(); }

const cv::Mat& TallScene() { return Fixture().tall; }

}  // namespace ffc::bench
