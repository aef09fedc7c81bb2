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

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "VyrCISFlatfieldCorrection.h"
#include "bench_folders.h"
#include "cis_simulator.h"
#include "correct/strip_lookup.h"
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

// A scanned page rather than a flat target: light paper, lines of dark
// print, and every column spanning 20..199 (each holds both ends), so that
// no column's values stay in a narrow band.
cv::Mat PageImage(int rows) {
    cv::Mat image(rows, kWidth, CV_8UC1);
    cv::RNG random(4711);
    for (int r = 0; r < rows; ++r) {
        const bool printLine = (r / 12) % 2 == 1;
        uint8_t* row = image.ptr<uint8_t>(r);
        for (int c = 0; c < kWidth; ++c) {
            const bool print = printLine && random.uniform(0, 3) == 0;
            row[c] = static_cast<uint8_t>(print ? random.uniform(20, 90) : random.uniform(150, 200));
        }
    }
    for (int c = 0; c < kWidth; ++c) {
        image.at<uint8_t>(c % rows, c) = 20;
        image.at<uint8_t>((c + rows / 2) % rows, c) = 199;
    }
    return image;
}

enum class Scene { kFlat, kPage };

const Scene kScenes[] = {Scene::kFlat, Scene::kPage};

const char* SceneName(Scene scene) { return scene == Scene::kFlat ? "flat" : "page"; }

struct CorrectionFixture {
    std::unique_ptr<FlatFieldCorrectionInstance> current = Calibrate(true);
    std::unique_ptr<FlatFieldCorrectionInstance> previous = Calibrate(false);
    cv::Mat tall = SceneImage(kTallRows, 32);
    cv::Mat shortImage = SceneImage(kShortRows, kShortRows);
    cv::Mat tallPage = PageImage(kTallRows);
    cv::Mat shortPage = PageImage(kShortRows);

    FlatFieldCorrectionInstance* InstanceOf(Generation generation) const {
        return generation == Generation::kCurrent ? current.get() : previous.get();
    }
    const cv::Mat& ImageOf(int rows, Scene scene = Scene::kFlat) const {
        if (scene == Scene::kPage) return rows == kTallRows ? tallPage : shortPage;
        return rows == kTallRows ? tall : shortImage;
    }
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

std::string RoundsName(Scene scene, int rows) {
    return std::string("correct_rounds/") + SceneName(scene) + "/rows:" + std::to_string(rows);
}

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
// correction once, each after an untimed call of its own, in turn, so that a
// slow spell of the machine hits them alike; each item keeps its fastest
// round as a counter.
void TimeRounds(benchmark::State& state, Scene scene, int rows) {
    const CorrectionFixture& fixture = Fixture();
    const cv::Mat& input = fixture.ImageOf(rows, scene);
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
            // A host corrects chunk after chunk in one mode: the call before
            // leaves the mode's tables in the cache as the last chunk would,
            // not evicted by the other modes' tables of this round.
            item.call();
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

std::string FirstUseName(const TestExport& test, int mode) {
    return std::string("correct_first_use/") + test.name + "/mode:" + ModeName(mode);
}

// The first correction of a 16-row chunk with a calibration, which fills the
// mode's tables; each iteration corrects with a copy of the instance, which
// starts without them.
void TimeFirstUse(benchmark::State& state, const TestExport& test, int mode) {
    const CorrectionFixture& fixture = Fixture();
    const cv::Mat& input = fixture.ImageOf(kShortRows);
    cv::Mat output(input.size(), CV_8UC1);
    double best = 1e300;
    for (auto _ : state) {
        state.PauseTiming();
        FlatFieldCorrectionInstance copy = *fixture.InstanceOf(test.generation);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        if (!test.function(&copy, &input, &output, mode)) {
            state.SkipWithError("the timed call failed");
            break;
        }
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["best_ms"] = best * 1e3;
}

// The fastest round of an item in seconds; 0 when the rounds did not run.
double RoundSeconds(const RecordingReporter& results, Scene scene, int rows, const std::string& item) {
    const RecordedRun* run = results.Find(RoundsName(scene, rows));
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
        for (Scene scene : kScenes) {
            benchmark::RegisterBenchmark(RoundsName(scene, rows).c_str(), TimeRounds, scene, rows)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(rows == kTallRows ? 21 : 201);
        }
        for (const TestExport& test : kExports) {
            for (int mode : kModes) {
                if (rows == kShortRows) {
                    benchmark::RegisterBenchmark(FirstUseName(test, mode).c_str(), TimeFirstUse, test, mode)
                        ->Unit(benchmark::kMillisecond)
                        ->Iterations(5);
                }
                benchmark::RegisterBenchmark(CorrectName("correct_plain", test, mode, rows).c_str(),
                                             TimePlainCorrection, test, mode, rows)
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.5);
            }
        }
    }
}

// "AMD family 25 model 17", from the processor's own identification.
std::string ProcessorName() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return "unknown processor";
    char vendor[13] = {};
    std::memcpy(vendor, &ebx, 4);
    std::memcpy(vendor + 4, &edx, 4);
    std::memcpy(vendor + 8, &ecx, 4);
    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    const unsigned baseFamily = (eax >> 8) & 0xF;
    const unsigned family = baseFamily == 0xF ? baseFamily + ((eax >> 20) & 0xFF) : baseFamily;
    const unsigned baseModel = (eax >> 4) & 0xF;
    const unsigned model = baseFamily == 0x6 || baseFamily == 0xF ? baseModel + (((eax >> 16) & 0xF) << 4) : baseModel;
    return std::string(vendor) + " family " + std::to_string(family) + " model " + std::to_string(model);
#else
    return "unknown processor";
#endif
}

// The bounds on the ratio to the single-table cv::LUT. Mode 4 also fills
// holes and lists them, which a single table has none of; a 16-row chunk pays
// for its 7,296 tables' cache lines on few pixels.
double LutBound(int mode, int rows) {
    if (rows == kTallRows) return mode == 4 ? 1.0 : 0.7;
    return mode == 4 ? 3.0 : 1.5;
}

std::vector<TargetCheck> PrintCorrectionSummary(const RecordingReporter& results) {
    std::vector<TargetCheck> checks;
    std::printf("\nCorrection of a %d-column image, one thread (fastest of the interleaved rounds; plain timed apart)\n",
                kWidth);
    std::printf("Processor: %s; strip lookup: %s\n", ProcessorName().c_str(), LookupPathName(ChosenLookupPath()));
    for (const TestExport& test : kExports) {
        for (int mode : kModes) {
            const double first = BestSeconds(results, FirstUseName(test, mode));
            if (first <= 0.0) continue;
            std::printf("First 16-row chunk of a calibration (fills the tables), %s mode %s: %.2f ms\n", test.name,
                        ModeName(mode).c_str(), first * 1e3);
        }
    }
    std::printf("%-9s %-8s %-5s %6s %10s %10s %13s %13s %13s\n", "export", "mode", "image", "rows", "export ms",
                "plain ms", "export/memcpy", "export/LUT", "plain/export");
    for (int rows : {kTallRows, kShortRows}) {
        for (Scene scene : kScenes) {
            const double copy = RoundSeconds(results, scene, rows, kMemcpyItem);
            const double lut = RoundSeconds(results, scene, rows, kLutItem);
            if (copy <= 0.0 || lut <= 0.0) continue;
            std::printf("%-9s %-8s %-5s %6d memcpy %.3f ms, single-table cv::LUT %.3f ms\n", "baseline", "",
                        SceneName(scene), rows, copy * 1e3, lut * 1e3);
            const std::string size = std::to_string(kWidth) + " x " + std::to_string(rows);
            for (const TestExport& test : kExports) {
                for (int mode : kModes) {
                    const double fast = RoundSeconds(results, scene, rows, CorrectionItem(test, mode));
                    // The plain rules are timed on the flat target only.
                    const double plain =
                        scene == Scene::kFlat ? BestSeconds(results, CorrectName("correct_plain", test, mode, rows))
                                              : 0.0;
                    if (fast <= 0.0) continue;
                    const double speedup = plain / fast;
                    const double overCopy = fast / copy;
                    const double overLut = fast / lut;
                    std::printf("%-9s %-8s %-5s %6d %10.3f %10.3f %13.2f %13.2f %13.1f\n", test.name,
                                ModeName(mode).c_str(), SceneName(scene), rows, fast * 1e3, plain * 1e3, overCopy,
                                overLut, speedup);
                    const std::string where =
                        std::string(test.name) + " mode " + ModeName(mode) + ", " + SceneName(scene) + " " + size;
                    const double lutBound = LutBound(mode, rows);
                    checks.push_back({where + ": at most " + Ratio(lutBound) + "x single-threaded cv::LUT",
                                      overLut <= lutBound, Ratio(overLut) + "x"});
                    // Mode 4 and the previous generation's mode 5 map through
                    // the column tables: the bound on plain applies to the others.
                    const bool polynomial = mode != 4 && !(mode == 5 && test.generation == Generation::kPrevious);
                    if (rows == kTallRows) {
                        checks.push_back({where + ": at most 16x memcpy", overCopy <= 16.0, Ratio(overCopy) + "x"});
                    }
                    if (!polynomial || plain <= 0.0) continue;
                    if (rows == kTallRows) {
                        checks.push_back({where + ": at least 20x faster than plain", speedup >= 20.0,
                                          Ratio(speedup) + "x"});
                    } else {
                        checks.push_back({where + ": no slower than plain", fast <= plain,
                                          Ratio(speedup) + "x faster"});
                    }
                }
            }
        }
    }
    return checks;
}

void ReleaseCorrectionFixture() { FixtureSlot().reset(); }

const cv::Mat& TallScene() { return Fixture().tall; }

}  // namespace ffc::bench
