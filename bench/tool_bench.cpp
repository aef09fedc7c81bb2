#include "tool_bench.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "bench_folders.h"
#include "correction_bench.h"
#include "interface_bench.h"

namespace ffc::bench {

namespace {

namespace fs = std::filesystem;

constexpr int kImages = 200;
constexpr int kFewerImages = kImages / 4;
constexpr int kRows = 2000;
constexpr int kDistinctFrames = 4;  // the batch cycles through these
constexpr int kRounds = 3;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr const char* kName = "tool/correct_batch";

int Cores() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

// Writes `count` camera images of the module into a fresh folder; the frames
// are encoded once and their bytes repeated.
std::string WriteBatch(const std::string& name, int count) {
    cissim::SimulatorOptions options = CalibrationOptions();
    options.height = kRows;
    const cissim::CisCamera camera = cissim::MakeCamera(options);
    std::vector<std::vector<uchar>> frames(kDistinctFrames);
    for (int k = 0; k < kDistinctFrames; ++k) {
        cv::imencode(".bmp", cissim::RenderFlatImage(camera, 60.0 + 30.0 * k, 1000 + k), frames[k]);
    }
    const std::string folder = ScratchFolder(name);
    for (int i = 0; i < count; ++i) {
        char file[32];
        std::snprintf(file, sizeof file, "frame_%04d.bmp", i);
        std::ofstream out(folder + file, std::ios::binary);
        const std::vector<uchar>& bytes = frames[i % kDistinctFrames];
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return folder;
}

struct ProcessCost {
    bool ok = false;
    double seconds = 0.0;
    double peakBytes = 0.0;  // the process's own high-water mark of resident memory
};

ProcessCost RunProcess(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return {};
    ProcessCost cost;
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.peakBytes = static_cast<double>(usage.ru_maxrss) * 1024.0;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

std::string SelfPath() { return fs::read_symlink("/proc/self/exe").string(); }

// Every figure is the fastest of the rounds (times) or the largest (peaks);
// the rounds alternate the three runs so that a slow spell hits all alike.
void TimeBatch(benchmark::State& state) {
    const std::string calibration = SavedCalibrationFile();
    const std::string batch = WriteBatch("batch", kImages);
    const std::string fewer = WriteBatch("batch_quarter", kFewerImages);
    const std::string out = ScratchFolder("batch_out");
    const std::vector<std::string> floor = {SelfPath(), "--copy-images", batch, out};
    auto correct = [&](const std::string& input, int jobs) {
        return std::vector<std::string>{CISFFC_PROGRAM, "correct", "--quiet", "--calibration", calibration, input,
                                        "--out", out, "--jobs", std::to_string(jobs)};
    };
    struct Measured {
        const char* name;
        std::vector<std::string> arguments;
        double seconds = 1e300;
        double peak = 0.0;
    };
    std::vector<Measured> runs = {{"floor", floor},
                                  {"jobs1", correct(batch, 1)},
                                  {"jobsN", correct(batch, Cores())},
                                  {"quarterN", correct(fewer, Cores())}};
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (Measured& run : runs) {
                const ProcessCost cost = RunProcess(run.arguments);
                if (!cost.ok) {
                    state.SkipWithError((std::string(run.name) + " failed").c_str());
                    return;
                }
                run.seconds = std::min(run.seconds, cost.seconds);
                run.peak = std::max(run.peak, cost.peakBytes);
            }
        }
    }
    for (const Measured& run : runs) {
        state.counters[std::string(run.name) + "_s"] = run.seconds;
        state.counters[std::string(run.name) + "_MiB"] = run.peak / kMiB;
    }
    state.counters["image_MiB"] = static_cast<double>(CalibrationOptions().width) * kRows / kMiB;
    state.counters["jobs"] = Cores();
}

double Counter(const RecordedRun& run, const std::string& name) {
    const auto found = run.counters.find(name);
    return found == run.counters.end() ? 0.0 : found->second;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

void RegisterToolBenchmark() {
    benchmark::RegisterBenchmark(kName, TimeBatch)->Iterations(1)->Unit(benchmark::kSecond);
}

std::vector<TargetCheck> PrintToolSummary(const RecordingReporter& results) {
    const RecordedRun* run = results.Find(kName);
    if (run == nullptr || Counter(*run, "floor_s") <= 0.0) return {};
    const double floor = Counter(*run, "floor_s");
    const double image = Counter(*run, "image_MiB");
    std::printf("\ncisffc correct, %d images of %d x %d from a saved calibration (fastest of %d rounds; peak resident "
                "memory of the process)\n",
                kImages, CalibrationOptions().width, kRows, kRounds);
    std::printf("  %-34s %8s %8s %10s %8s\n", "", "s", "ratio", "images/s", "peak MiB");
    const std::pair<const char*, std::string> rows[] = {
        {"floor", "read and write, no correction"},
        {"jobs1", "cisffc correct --jobs 1"},
        {"jobsN", "cisffc correct --jobs " + Format("%.0f", Counter(*run, "jobs"))},
    };
    for (const auto& [key, label] : rows) {
        const double seconds = Counter(*run, std::string(key) + "_s");
        std::printf("  %-34s %8.2f %8.2f %10.1f %8.1f\n", label.c_str(), seconds, seconds / floor, kImages / seconds,
                    Counter(*run, std::string(key) + "_MiB"));
    }
    const double quarter = Counter(*run, "quarterN_MiB");
    const double all = Counter(*run, "jobsN_MiB");
    std::printf("  peak with %d images: %.1f MiB, with %d: %.1f MiB (one image is %.1f MiB)\n", kFewerImages, quarter,
                kImages, all, image);
    return {{"cisffc correct: peak memory does not grow with the images (" + std::to_string(kImages) + " against " +
                 std::to_string(kFewerImages) + ", within one image)",
             all <= quarter + image, Format("%+.1f MiB", all - quarter)}};
}

int CopyImagesMain(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "--copy-images") != 0) return -1;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(argv[2])) {
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const cv::Mat image = cv::imread(file.string(), cv::IMREAD_UNCHANGED);
        if (image.empty() || !cv::imwrite((fs::path(argv[3]) / file.filename()).string(), image)) return 1;
    }
    return 0;
}

}  // namespace ffc::bench
