// The C++ interface on a small simulated module: the same results as the
// exported functions, from a folder or from memory; a reason for every
// refusal; files that round-trip bit for bit; threads that change nothing
// (run under ThreadSanitizer too).
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "VyrCISFlatfieldCorrection.hpp"
#include "cis_simulator.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

namespace vyrffc {
namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 8;
const CalibrationRun kRuns[] = {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented};

ErrorReason ReasonOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        EXPECT_FALSE(std::string(error.what()).empty());
        return error.reason();
    }
    ADD_FAILURE() << "no error";
    return ErrorReason::kInvalidSettings;
}

Settings SettingsFor(CalibrationRun run) {
    Settings settings;
    settings.run = run;
    settings.groupWidth = 32;
    return settings;
}

class CxxInterface : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new ffc::testing::TempFolder();
        cissim::SimulatorOptions options;
        options.width = kWidth;
        options.height = kHeight;
        options.chips = 2;
        cissim::WriteCalibrationFolder(folder_->path(), options);
        image_ = new cv::Mat(cissim::RenderFlatImage(cissim::MakeCamera(options), 120.0, 3));
        for (CalibrationRun run : kRuns) calibrations_.push_back(CalibrateFolder(folder_->path(), SettingsFor(run)));
    }
    static void TearDownTestSuite() {
        calibrations_.clear();
        delete image_;
        delete folder_;
    }

    inline static ffc::testing::TempFolder* folder_ = nullptr;
    inline static cv::Mat* image_ = nullptr;
    inline static std::vector<Calibration> calibrations_;
};

// What the exported test function of the generation gives, or the reason the
// interface names instead.
std::string Corrected(const Calibration& calibration, const cv::Mat& input, int mode, Generation generation,
                      int threads) {
    cv::Mat output;
    try {
        calibration.Correct(input, output, mode, generation, threads);
    } catch (const Error& error) {
        return ReasonName(error.reason());
    }
    return std::string(output.datastart, output.dataend);
}

// Every run gives the results of its export, bit for bit, from a folder and
// from the same images in memory; a saved and loaded calibration, and bands
// of rows on several threads, correct as the export's test function does, in
// every mode of both generations (where the calibration holds what the mode
// reads, else all refuse alike).
TEST_F(CxxInterface, SameResultsAsTheExportsFromMemoryFilesAndThreads) {
    using RunFunction = bool (*)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>);
    const RunFunction exported[] = {RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew,
                                    RunFlatFieldCorrectionTool_lowhigh_map_simple_New,
                                    RunFlatFieldCorrectionTool_autosegment};
    std::vector<cv::Mat> images;
    std::vector<cv::String> files;
    cv::glob(folder_->path() + "*.bmp", files);
    for (const cv::String& file : files) images.push_back(cv::imread(file, cv::IMREAD_GRAYSCALE));
    cv::Mat tall;
    cv::repeat(*image_, 40, 1, tall);
    tall.row(7).setTo(0);
    ffc::testing::TempFolder out;
    for (size_t r = 0; r < 3; ++r) {
        const Calibration& calibration = calibrations_[r];
        const Results& results = calibration.results();
        EXPECT_EQ(CalibrateImages(images, SettingsFor(kRuns[r])).Serialize(), calibration.Serialize());
        calibration.Save(out.path() + "calibration.ffcal");
        const Calibration loaded = Calibration::Load(out.path() + "calibration.ffcal");
        EXPECT_EQ(loaded.Serialize(), calibration.Serialize());

        FlatFieldCorrectionInstance instance;
        ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, folder_->path(), results.referenceColumns, kHeight,
                                                     kWidth));
        exported[r](&instance, results.significantDigits, results.columnGroups);
        EXPECT_TRUE(instance.quadCoeffs == results.quadCoeffs && instance.columnLuts == results.columnLuts) << r;
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            auto test = generation == Generation::kPrevious ? TestFlatFieldCorrectionTool
                                                            : TestFlatFieldCorrectionTool_NewNew;
            for (int mode : {0, 1, 4, 5, 6, 7}) {
                const std::string one = Corrected(calibration, tall, mode, generation, 1);
                cv::Mat expected;
                if (test(&instance, &tall, &expected, mode)) {
                    EXPECT_EQ(one, std::string(expected.datastart, expected.dataend)) << r << " mode " << mode;
                }
                EXPECT_EQ(Corrected(calibration, tall, mode, generation, 3), one) << r << " mode " << mode;
                EXPECT_EQ(Corrected(loaded, tall, mode, generation, 2), one) << r << " mode " << mode;
            }
        }
    }
    EXPECT_GT(calibrations_[0].results().fitHighBound, calibrations_[0].results().fitLowBound);

    // Calibrations on several threads at once, each on its own instance,
    // give what they give one after another: the library keeps no state.
    std::vector<std::string> parallel(3);
    std::vector<std::thread> threads;
    for (size_t r = 0; r < 3; ++r) {
        threads.emplace_back([&, r] { parallel[r] = CalibrateImages(images, SettingsFor(kRuns[r])).Serialize(); });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t r = 0; r < 3; ++r) EXPECT_EQ(parallel[r], calibrations_[r].Serialize()) << r;
}

// Each reason a calibration is refused for, once.
TEST_F(CxxInterface, RefusalsNameTheirReason) {
    ffc::testing::TempFolder scratch;
    auto folderOf = [&](const std::string& name, int count, int gray) {
        const std::string path = scratch.path() + name + "/";
        std::filesystem::create_directories(path);
        for (int i = 0; i < count; ++i) {
            cv::imwrite(path + std::to_string(i) + ".bmp", cv::Mat(4, 64, CV_8UC1, cv::Scalar(gray)));
        }
        return path;
    };
    Settings wrongColumn;
    wrongColumn.referenceColumns = {3, kWidth};
    Settings wrongGroup;
    wrongGroup.columnGroups = {{0, 1}, {-1}};
    Settings halfSize;
    halfSize.imageWidth = 64;
    cv::Mat saturatedPixel(2, kWidth, CV_8UC1, cv::Scalar(120));
    saturatedPixel.at<uint8_t>(1, 5) = 255;
    const std::pair<std::function<void()>, ErrorReason> cases[] = {
        {[&] { CalibrateFolder(scratch.path() + "missing", {}); }, ErrorReason::kFolderMissing},
        {[&] { CalibrateFolder(folderOf("empty", 0, 0), {}); }, ErrorReason::kNoImageFiles},
        {[&] { CalibrateFolder(folderOf("three", 3, 100), {}); }, ErrorReason::kTooFewImages},
        {[&] { CalibrateFolder(folderOf("saturated", 5, 255), {}); }, ErrorReason::kAllSaturated},
        {[&] { CalibrateFolder(folderOf("black", 12, 0), {}); }, ErrorReason::kNoBrightnessRange},
        {[&] { CalibrateFolder(folder_->path(), wrongColumn); }, ErrorReason::kColumnOutsideImage},
        {[&] { CalibrateFolder(folder_->path(), wrongGroup); }, ErrorReason::kColumnOutsideImage},
        {[&] { CalibrateFolder(folder_->path(), halfSize); }, ErrorReason::kInvalidSettings},
        {[&] { CalibrateImages({cv::Mat(4, 64, CV_8UC3)}, {}); }, ErrorReason::kImageUnusable},
        {[&] { calibrations_[0].Correct(cv::Mat(2, kWidth + 1, CV_8UC1), *image_, 0); }, ErrorReason::kImageUnusable},
        {[&] { cv::Mat out; calibrations_[2].Correct(*image_, out, 4); }, ErrorReason::kModeUnavailable},
        {[&] { cv::Mat out; calibrations_[0].Correct(saturatedPixel, out, 4); }, ErrorReason::kNoHoleCandidate},
        {[&] { cv::Mat out; calibrations_[0].Correct(cv::Mat(2, kWidth, CV_8UC1, 255), out, 4); },
         ErrorReason::kUnfillableRow},
    };
    for (const auto& [call, reason] : cases) EXPECT_EQ(ReasonOf(call), reason) << ReasonName(reason);
}

// Files the image library cannot use, and files that are no regular files,
// are skipped with a warning; the results are those of the usable images.
TEST_F(CxxInterface, UnusableFilesAreSkippedWithAWarning) {
    ffc::testing::TempFolder cluttered;
    std::vector<cv::String> files;
    cv::glob(folder_->path() + "*.bmp", files);
    for (const cv::String& file : files) {
        std::filesystem::copy_file(file, cluttered.path() + std::filesystem::path(file).filename().string());
    }
    std::ofstream(cluttered.path() + "notes.bmp") << "not an image";
    ASSERT_EQ(::mkfifo((cluttered.path() + "pipe.bmp").c_str(), 0600), 0);
    cv::imwrite(cluttered.path() + "small.bmp", cv::Mat(4, 64, CV_8UC1, cv::Scalar(9)));
    std::vector<std::string> warnings;
    const Calibration calibration = CalibrateFolder(cluttered.path(), SettingsFor(CalibrationRun::kCurrent), &warnings);
    EXPECT_EQ(calibration.Serialize(), calibrations_[0].Serialize());
    ASSERT_EQ(warnings.size(), 3u);
    const std::string all = warnings[0] + warnings[1] + warnings[2];
    for (const char* name : {"notes.bmp", "pipe.bmp", "small.bmp"}) EXPECT_NE(all.find(name), std::string::npos) << all;
}

}  // namespace
}  // namespace vyrffc
