// Instances are independent: threads that each own an instance may calibrate
// and correct at the same time, and a calibrated instance may serve several
// correction calls at once. Every thread must get exactly what the same calls
// give one after another.
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "cis_simulator.h"
#include "support/instance_bytes.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

constexpr int kThreads = 4;

cissim::SimulatorOptions Options() {
    cissim::SimulatorOptions options;
    options.width = 384;
    options.height = 4;
    options.levels = 32;
    options.chips = 3;
    options.seed = 11;
    return options;
}

std::vector<std::vector<int32_t>> ChipGroups(const cissim::SimulatorOptions& options) {
    std::vector<std::vector<int32_t>> groups(options.chips);
    for (int32_t c = 0; c < options.width; ++c) groups[c * options.chips / options.width].push_back(c);
    return groups;
}

// Everything a sequence of calls handed back, as bytes in call order: two
// transcripts are equal only when every answer matches bit for bit.
using Transcript = std::string;

void CorrectInEveryMode(FlatFieldCorrectionInstance* instance, const cv::Mat& image, Transcript& t) {
    for (auto test : {TestFlatFieldCorrectionTool_NewNew, TestFlatFieldCorrectionTool}) {
        for (int32_t mode : {0, 1, 4, 5, 6, 7}) {
            cv::Mat output;
            try {
                t += test(instance, &image, &output, mode) ? "true" : "false";
                testing::AppendBytes(t, std::vector<int32_t>{output.rows, output.cols, output.type()});
                testing::AppendBytes(t, std::vector<uint8_t>(output.datastart, output.dataend));
            } catch (const std::invalid_argument&) {
                t += "Vector is empty";  // what was written before the throw is not compared
            }
        }
    }
}

// One host's session: create, configure, calibrate with all three runs in the
// order of `variant`, reading the results and correcting after each, destroy.
Transcript Session(const std::string& folder, const cv::Mat& image, int variant) {
    using Run = bool (*)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>);
    const Run runs[3] = {RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew,
                         RunFlatFieldCorrectionTool_lowhigh_map_simple_New, RunFlatFieldCorrectionTool_autosegment};
    const cissim::SimulatorOptions options = Options();
    std::vector<int32_t> references;
    for (int32_t c = 8; c < options.width; c += 16) references.push_back(c);

    Transcript t;
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    EXPECT_TRUE(SetFlatFieldCorrectionParameters(instance, folder, references, options.height, options.width));
    for (int step = 0; step < 3; ++step) {
        t += runs[(step + variant) % 3](instance, 6, ChipGroups(options)) ? "true" : "false";
        t += testing::InstanceBytes(*instance);
        CorrectInEveryMode(instance, image, t);
    }
    DestroyFlatFieldCorrectionVyrInstance(instance);
    return t;
}

TEST(Concurrency, ThreadsWithTheirOwnInstancesGetTheSequentialResults) {
    testing::TempFolder folder;
    const cissim::SimulatorOptions options = Options();
    cissim::WriteCalibrationFolder(folder.path(), options);
    const cv::Mat image = cissim::RenderFlatImage(cissim::MakeCamera(options), 120.0, 5);

    std::vector<Transcript> sequential;
    for (int variant = 0; variant < 3; ++variant) sequential.push_back(Session(folder.path(), image, variant));
    EXPECT_EQ(sequential[0].substr(0, 4), "true") << "the current-generation run should succeed";

    std::vector<Transcript> parallel(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] { parallel[t] = Session(folder.path(), image, t % 3); });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(parallel[t] == sequential[t % 3]) << "thread " << t;
}

// The correction tests only read the instance, so one calibrated instance may
// serve several of them at once.
TEST(Concurrency, CorrectionsShareOneCalibratedInstance) {
    testing::TempFolder folder;
    const cissim::SimulatorOptions options = Options();
    cissim::WriteCalibrationFolder(folder.path(), options);
    const cissim::CisCamera camera = cissim::MakeCamera(options);
    std::vector<cv::Mat> images;
    for (int t = 0; t < kThreads; ++t) images.push_back(cissim::RenderFlatImage(camera, 60.0 + 30.0 * t, t));

    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(instance, folder.path(), {20, 100, 180}, options.height,
                                                 options.width));
    ASSERT_TRUE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, ChipGroups(options)));

    constexpr int kRepeats = 3;
    std::vector<Transcript> sequential(kThreads);
    std::vector<std::vector<Transcript>> parallel(kThreads, std::vector<Transcript>(kRepeats));
    for (int t = 0; t < kThreads; ++t) CorrectInEveryMode(instance, images[t], sequential[t]);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (Transcript& transcript : parallel[t]) CorrectInEveryMode(instance, images[t], transcript);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (const Transcript& transcript : parallel[t]) EXPECT_TRUE(transcript == sequential[t]) << "thread " << t;
    }
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

}  // namespace
}  // namespace ffc
