#include "correction_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include <opencv2/core.hpp>

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

std::string MemcpyName(int rows) { return "correct_memcpy/rows:" + std::to_string(rows); }

void SetThroughput(benchmark::State& state, const cv::Mat& image) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.total()));
}

void TimeFastCorrection(benchmark::State& state, const TestExport& test, int mode, int rows) {
    const CorrectionFixture& fixture = Fixture();
    const cv::Mat& input = fixture.ImageOf(rows);
    cv::Mat output(input.size(), CV_8UC1);
    TimeFastestIteration(state, [&] { return test.function(fixture.InstanceOf(test.generation), &input, &output, mode); });
    SetThroughput(state, input);
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

void TimeMemcpy(benchmark::State& state, int rows) {
    const cv::Mat& input = Fixture().ImageOf(rows);
    cv::Mat output(input.size(), CV_8UC1);
    const size_t bytes = input.total();
    TimeFastestIteration(state, [&] {
        std::memcpy(output.data, input.data, bytes);
        return true;
    });
    SetThroughput(state, input);
}

std::string Ratio(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

void RegisterCorrectionBenchmarks() {
    for (int rows : {kTallRows, kShortRows}) {
        benchmark::RegisterBenchmark(MemcpyName(rows).c_str(), TimeMemcpy, rows)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2);
        for (const TestExport& test : kExports) {
            for (int mode : kModes) {
                benchmark::RegisterBenchmark(CorrectName("correct", test, mode, rows).c_str(), TimeFastCorrection,
                                             test, mode, rows)
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.2);
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
    std::printf("\nCorrection of a %d-column image (fastest iterations of this run)\n", kWidth);
    std::printf("%-9s %-8s %6s %11s %11s %11s %12s %12s\n", "export", "mode", "rows", "export ms", "plain ms",
                "memcpy ms", "plain/export", "export/memcpy");
    for (int rows : {kTallRows, kShortRows}) {
        const double copy = BestSeconds(results, MemcpyName(rows));
        for (const TestExport& test : kExports) {
            for (int mode : kModes) {
                const double fast = BestSeconds(results, CorrectName("correct", test, mode, rows));
                const double plain = BestSeconds(results, CorrectName("correct_plain", test, mode, rows));
                if (fast <= 0.0) continue;
                const double speedup = plain / fast;
                const double overCopy = copy > 0.0 ? fast / copy : 0.0;
                std::printf("%-9s %-8s %6d %11.3f %11.3f %11.3f %12.1f %12.1f\n", test.name, ModeName(mode).c_str(),
                            rows, fast * 1e3, plain * 1e3, copy * 1e3, speedup, overCopy);
                const std::string where = std::string(test.name) + " mode " + ModeName(mode);
                // Mode 4 and the previous generation's mode 5 map through the
                // column tables: only the memcpy bound applies to them.
                const bool polynomial = mode != 4 && !(mode == 5 && test.generation == Generation::kPrevious);
                if (rows == kTallRows) {
                    if (polynomial && plain > 0.0) {
                        checks.push_back({where + ", 7296 x 2048: at least 20x faster than plain", speedup >= 20.0,
                                          Ratio(speedup) + "x"});
                    }
                    if (copy > 0.0) {
                        checks.push_back({where + ", 7296 x 2048: at most 16x memcpy", overCopy <= 16.0,
                                          Ratio(overCopy) + "x"});
                    }
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
