// Instances are independent: threads that each own an instance may calibrate
// and correct at the same time, and get exactly what the same calls give one
// after another. (Corrections sharing one instance are the C++ interface's
// bands of rows, checked there.)
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

using Run = bool (*)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>);
const Run kRuns[3] = {RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew,
                      RunFlatFieldCorrectionTool_lowhigh_map_simple_New, RunFlatFieldCorrectionTool_autosegment};

// Everything a sequence of calls handed back, as bytes in call order.
using Transcript = std::string;

void CorrectInEveryMode(FlatFieldCorrectionInstance* instance, const cv::Mat& image, Transcript& t) {
    for (auto test : {TestFlatFieldCorrectionTool_NewNew, TestFlatFieldCorrectionTool}) {
        for (int32_t mode : {0, 1, 4, 5, 6, 7}) {
            cv::Mat output;
            try {
                t += test(instance, &image, &output, mode) ? "true" : "false";
                testing::AppendBytes(t, std::vector<uint8_t>(output.datastart, output.dataend));
            } catch (const std::invalid_argument&) {
                t += "Vector is empty";  // what was written before the throw is not compared
            }
        }
    }
}

class Concurrency : public ::testing::Test {
protected:
    Concurrency() {
        options_.width = 384;
        options_.height = 4;
        options_.levels = 32;
        options_.chips = 3;
        options_.seed = 11;
        cissim::WriteCalibrationFolder(folder_.path(), options_);
        for (int32_t c = 0; c < options_.width; ++c) groups_[c * options_.chips / options_.width].push_back(c);
        for (int32_t c = 8; c < options_.width; c += 16) references_.push_back(c);
        const cissim::CisCamera camera = cissim::MakeCamera(options_);
        for (int t = 0; t < kThreads; ++t) images_.push_back(cissim::RenderFlatImage(camera, 60.0 + 30.0 * t, t));
    }

    FlatFieldCorrectionInstance* Configured() const {
        FlatFieldCorrectionInstance* instance = nullptr;
        CreateFlatFieldCorrectionInstance(&instance);
        EXPECT_TRUE(SetFlatFieldCorrectionParameters(instance, folder_.path(), references_, options_.height,
                                                     options_.width));
        return instance;
    }

    // Thread t's work: all three runs on an instance of its own, starting
    // with run t, each followed by its results and corrections.
    Transcript Work(int t) const {
        Transcript transcript;
        FlatFieldCorrectionInstance* own = Configured();
        for (int step = 0; step < 3; ++step) {
            transcript += kRuns[(step + t) % 3](own, 6, groups_) ? "true" : "false";
            transcript += testing::InstanceBytes(*own);
            CorrectInEveryMode(own, images_[t], transcript);
        }
        DestroyFlatFieldCorrectionVyrInstance(own);
        return transcript;
    }

    cissim::SimulatorOptions options_;
    testing::TempFolder folder_;
    std::vector<std::vector<int32_t>> groups_ = std::vector<std::vector<int32_t>>(3);
    std::vector<int32_t> references_;
    std::vector<cv::Mat> images_;
};

TEST_F(Concurrency, ThreadsCalibratingTheirOwnInstancesGetTheSequentialResults) {
    std::vector<Transcript> sequential(kThreads);
    for (int t = 0; t < kThreads; ++t) sequential[t] = Work(t);
    EXPECT_EQ(sequential[0].substr(0, 4), "true") << "the current-generation run should succeed";

    std::vector<Transcript> parallel(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { parallel[t] = Work(t); });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(parallel[t] == sequential[t]) << "thread " << t;
}

}  // namespace
}  // namespace ffc
