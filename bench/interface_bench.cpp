#include "interface_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <unistd.h>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "bench_folders.h"
#include "correction_bench.h"

namespace ffc::bench {

namespace {

constexpr int kMode = 1;  // cubic polynomials: the heaviest mode without dark pixels

int Cores() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

vyrffc::Settings CurrentRun() { return vyrffc::Settings{}; }

std::optional<vyrffc::Calibration> calibration;
std::string file;

const vyrffc::Calibration& SavedCalibration(std::string* path = nullptr) {
    if (!calibration) {
        calibration = vyrffc::CalibrateFolder(SimulatedFolder(CalibrationOptions()), CurrentRun());
        file = (std::filesystem::temp_directory_path() / ("ffc-bench-calibration-" + std::to_string(::getpid()) + ".yml"))
                   .string();
        calibration->Save(file);
    }
    if (path != nullptr) *path = file;
    return *calibration;
}

void TimeCalibrate(benchmark::State& state) {
    const std::string& folder = SimulatedFolder(CalibrationOptions());
    TimeFastestIteration(state, [&] {
        benchmark::DoNotOptimize(vyrffc::CalibrateFolder(folder, CurrentRun()));
        return true;
    });
}

void TimeLoad(benchmark::State& state) {
    std::string path;
    SavedCalibration(&path);
    TimeFastestIteration(state, [&] {
        benchmark::DoNotOptimize(vyrffc::Calibration::Load(path));
        return true;
    });
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}

void TimeCorrect(benchmark::State& state, int threads) {
    const vyrffc::Calibration& calibration = SavedCalibration();
    const cv::Mat& input = TallScene();
    cv::Mat output(input.size(), CV_8UC1);
    TimeFastestIteration(state, [&] {
        calibration.Correct(input, output, kMode, threads);
        return true;
    });
}

void TimeCopy(benchmark::State& state) {
    const cv::Mat& input = TallScene();
    cv::Mat output(input.size(), CV_8UC1);
    TimeFastestIteration(state, [&] {
        std::memcpy(output.data, input.data, input.total());
        return true;
    });
}

std::string Times(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1fx", ratio);
    return text;
}

}  // namespace

const std::string& SavedCalibrationFile() {
    SavedCalibration();
    return file;
}

void ReleaseInterfaceFixture() {
    if (!file.empty()) std::filesystem::remove(file);
    calibration.reset();
}

void RegisterInterfaceBenchmarks() {
    benchmark::RegisterBenchmark("interface/calibrate_folder", TimeCalibrate)->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("interface/load_file", TimeLoad)->Unit(benchmark::kMillisecond)->MinTime(0.5);
    benchmark::RegisterBenchmark("interface/correct/threads:1", TimeCorrect, 1)->Unit(benchmark::kMillisecond)->MinTime(0.5);
    benchmark::RegisterBenchmark("interface/correct/threads:all", TimeCorrect, 0)->Unit(benchmark::kMillisecond)->MinTime(0.5);
    benchmark::RegisterBenchmark("interface/memcpy", TimeCopy)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

std::vector<TargetCheck> PrintInterfaceSummary(const RecordingReporter& results) {
    std::vector<TargetCheck> checks;
    const double calibrate = BestSeconds(results, "interface/calibrate_folder");
    const double load = BestSeconds(results, "interface/load_file");
    const double one = BestSeconds(results, "interface/correct/threads:1");
    const double all = BestSeconds(results, "interface/correct/threads:all");
    const double copy = BestSeconds(results, "interface/memcpy");
    if (calibrate > 0.0 && load > 0.0) {
        const RecordedRun* run = results.Find("interface/load_file");
        const double megabytes = run ? run->counters.at("file_MB") : 0.0;
        std::printf("\nC++ interface, 7296 columns: calibrate %.1f ms, load the saved file (%.2f MB) %.1f ms: %s\n",
                    calibrate * 1e3, megabytes, load * 1e3, Times(calibrate / load).c_str());
        checks.push_back({"loading a 7296-column calibration at least 20x faster than calibrating",
                          calibrate / load >= 20.0, Times(calibrate / load)});
        checks.push_back({"a 7296-column calibration file under 4 MB", megabytes < 4.0, std::to_string(megabytes) + " MB"});
    }
    if (one > 0.0 && all > 0.0 && copy > 0.0) {
        std::printf("C++ interface, 7296 x 2048 in mode %d: 1 thread %.2f ms, %d threads %.2f ms (%s), memcpy %.2f ms "
                    "(all threads %s memcpy)\n",
                    kMode, one * 1e3, Cores(), all * 1e3, Times(one / all).c_str(), copy * 1e3,
                    Times(all / copy).c_str());
        if (Cores() >= 2) {
            checks.push_back({"correcting 7296 x 2048 on all cores at least 1.8x faster than on one",
                              one / all >= 1.8, Times(one / all)});
        }
    }
    return checks;
}

}  // namespace ffc::bench
