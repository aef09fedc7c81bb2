// The C++ interface on a small simulated module: the same results as the
// exported functions, from a folder or from memory; a reason for every
// refusal; files that round-trip bit for bit; threads that change nothing
// (run under ThreadSanitizer too).
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_state.h"
#include "cis_simulator.h"
#include "instance/instance.h"
#include "support/image_files.h"
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
                      int threads, bool inPlace = false) {
    cv::Mat output = inPlace ? input.clone() : cv::Mat();
    try {
        calibration.Correct(inPlace ? output : input, output, mode, generation, threads);
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
                if (test(&instance, &tall, &expected, mode) && one != "mode unavailable") {
                    EXPECT_EQ(one, std::string(expected.datastart, expected.dataend)) << r << " mode " << mode;
                }
                EXPECT_EQ(Corrected(calibration, tall, mode, generation, 3), one) << r << " mode " << mode;
                EXPECT_EQ(Corrected(calibration, tall, mode, generation, 1 << 30), one) << r << " mode " << mode;
                EXPECT_EQ(Corrected(calibration, tall, mode, generation, 4, true), one) << r << " mode " << mode;
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

// A mode is served exactly when the export's test function, on a ramp of
// gray levels, gives anything but a constant image (or fails outright): the
// gained modes of the other generation's rule and the segmented run's modes
// beyond the polynomials give constant images, and are refused.
TEST_F(CxxInterface, CalibrationsServeExactlyTheModesThatGiveAnImage) {
    cv::Mat ramp(24, kWidth, CV_8UC1);
    for (int r = 0; r < ramp.rows; ++r) ramp.row(r).setTo(10 + 10 * r);
    for (size_t r = 0; r < 3; ++r) {
        FlatFieldCorrectionInstance instance = MakeInstance(calibrations_[r].results());
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            const std::vector<int> served = calibrations_[r].Modes(generation);
            EXPECT_EQ(served, ServedModes(kRuns[r], generation));
            auto test = generation == Generation::kPrevious ? TestFlatFieldCorrectionTool
                                                            : TestFlatFieldCorrectionTool_NewNew;
            for (int mode : {0, 1, 4, 5, 6, 7}) {
                cv::Mat exported;
                double low = 0, high = 0;
                const bool done = test(&instance, &ramp, &exported, mode);
                if (done) cv::minMaxLoc(exported, &low, &high);
                const bool gives = done && low != high;
                EXPECT_EQ(std::count(served.begin(), served.end(), mode) == 1, gives) << r << " mode " << mode;
                const std::string corrected = Corrected(calibrations_[r], ramp, mode, generation, 2);
                EXPECT_EQ(corrected == "mode unavailable", !gives) << r << " mode " << mode;
            }
        }
    }
}

// Bands whose thread the system will not start are corrected by the threads
// that did start, or by the caller: the same bytes, and no abort.
TEST_F(CxxInterface, ThreadsThatCannotStartLeaveTheSameResult) {
    cv::Mat tall;
    cv::repeat(*image_, 64, 1, tall);
    tall.row(100).setTo(0);
    cv::Mat single;
    calibrations_[1].Correct(tall, single, 7, Generation::kPrevious, 1);
    const FlatFieldCorrectionInstance instance = MakeInstance(calibrations_[1].results());
    for (int allowed : {0, 1, 5}) {
        std::atomic<int> started{0};
        const ffc::ThreadStarter refusing = [&](std::function<void()> work) -> std::optional<std::thread> {
            if (started++ < allowed) return ffc::StartThread(std::move(work));
            if (allowed == 5) throw std::bad_alloc();  // the work's copy could not be made
            return std::nullopt;
        };
        cv::Mat output;
        CorrectInBands(instance, CalibrationRun::kPrevious, tall, output, 7, Generation::kPrevious, 32, refusing);
        EXPECT_EQ(cv::norm(output, single, cv::NORM_INF), 0.0) << allowed;
        EXPECT_GT(started.load(), allowed) << "more threads were asked for than given";
    }
}

// Images without a range of levels are refused by every run, also where the
// library's previous-generation and segmented runs would go on with them.
TEST_F(CxxInterface, EveryRunRefusesImagesWithoutARangeOfLevels) {
    const std::pair<std::vector<int>, ErrorReason> cases[] = {
        {{255}, ErrorReason::kAllSaturated},
        {{0}, ErrorReason::kNoBrightnessRange},
        {{90, 255}, ErrorReason::kNoBrightnessRange},
    };
    for (const auto& [grays, reason] : cases) {
        std::vector<cv::Mat> images;
        for (int i = 0; i < 12; ++i) images.emplace_back(4, 64, CV_8UC1, cv::Scalar(grays[i % grays.size()]));
        for (CalibrationRun run : kRuns) {
            EXPECT_EQ(ReasonOf([&] { CalibrateImages(images, SettingsFor(run)); }), reason)
                << grays.size() << " gray(s) from " << grays.front() << ", run " << static_cast<int>(run);
        }
    }
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
    // A flagged column whose dark range is missing, and a dark pixel in it.
    Results incomplete = calibrations_[0].results();
    incomplete.columnFlags[9] = -1;
    incomplete.columnDarkRanges[9].clear();
    const Calibration darkWithoutRange = MakeCalibration(incomplete);
    cv::Mat darkPixel(2, kWidth, CV_8UC1, cv::Scalar(120));
    darkPixel.at<uint8_t>(1, 9) = 0;
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
        {[&] { cv::Mat out; darkWithoutRange.Correct(darkPixel, out, 6); }, ErrorReason::kDarkRangeMissing},
        {[&] { cv::Mat out; calibrations_[0].Correct(*image_, out, 5, Generation::kPrevious, 1); },
         ErrorReason::kModeUnavailable},
        {[&] { cv::Mat out; calibrations_[0].Correct(*image_, out, 0, -1); }, ErrorReason::kInvalidSettings},
        // The twelve functions take any other number as mode 7; here it is a slip.
        {[&] { cv::Mat out; calibrations_[0].Correct(*image_, out, 2); }, ErrorReason::kInvalidSettings},
        {[&] { cv::Mat out; calibrations_[1].Correct(*image_, out, -1); }, ErrorReason::kInvalidSettings},
        {[&] { RequireCamera(calibrations_[0], {"", "SN 1", {}}); }, ErrorReason::kCameraMismatch},
        {[&] { RequireCamera(calibrations_[0], {}); }, ErrorReason::kInvalidSettings},
        {[&] { cv::Mat empty; calibrations_[0].Correct(empty, empty, 0); }, ErrorReason::kImageUnusable},
    };
    for (const auto& [call, reason] : cases) EXPECT_EQ(ReasonOf(call), reason) << ReasonName(reason);
}

// The camera given to a calibration is kept, notes in key order, and checked
// like every setting before any image is read; RequireCamera compares what
// is asked for and refuses another camera.
TEST_F(CxxInterface, TheCameraIsKeptCheckedAndRequired) {
    Settings settings = SettingsFor(CalibrationRun::kCurrent);
    settings.camera = {"CIS 7296", "SN 17", {{"site", "Halle 4, Linie 2"}, {"lens", "A"}}};
    const Calibration named = CalibrateFolder(folder_->path(), settings);
    EXPECT_EQ(named.results().camera.notes,
              (std::vector<std::pair<std::string, std::string>>{{"lens", "A"}, {"site", "Halle 4, Linie 2"}}));
    EXPECT_EQ(Calibration::Deserialize(named.Serialize()).results().camera.serial, "SN 17");
    RequireCamera(named, {"", "SN 17", {}});
    RequireCamera(named, {"CIS 7296", "SN 17", {}});
    for (const CameraIdentity& other : {CameraIdentity{"", "SN 18", {}}, CameraIdentity{"CIS 2048", "SN 17", {}}}) {
        EXPECT_EQ(ReasonOf([&] { RequireCamera(named, other); }), ErrorReason::kCameraMismatch);
    }
    const CameraIdentity refused[] = {
        {"CIS\n7296", "", {}},
        {"", std::string(129, 's'), {}},
        {"", "\xC0\xAF", {}},  // an overlong '/'
        {"", "", {{"lens", "A"}, {"lens", "B"}}},
        {"", "", {{"a=b", "c"}}},
        {"", "", {{"", "c"}}},
        {"", "", std::vector<std::pair<std::string, std::string>>(65, {"k", "v"})},
    };
    for (const CameraIdentity& camera : refused) {
        settings.camera = camera;
        EXPECT_EQ(ReasonOf([&] { CalibrateFolder(folder_->path() + "missing", settings); }),
                  ErrorReason::kInvalidSettings)
            << camera.model << camera.serial;
    }
}

// Bindings list the reasons from AllErrorReasons and read run names with
// RunNamed: a reason left out or a name that does not read back would reach
// users as a reason they cannot match or a run they cannot ask for.
TEST(Names, EveryReasonListedOnceWithItsOwnNameAndEveryRunReadsBack) {
    const std::vector<ErrorReason> reasons = AllErrorReasons();
    ASSERT_EQ(reasons.size(), static_cast<size_t>(ErrorReason::kCameraMismatch) + 1);
    std::set<std::string> names;
    for (size_t i = 0; i < reasons.size(); ++i) {
        EXPECT_EQ(static_cast<size_t>(reasons[i]), i);
        EXPECT_TRUE(names.insert(ReasonName(reasons[i])).second) << ReasonName(reasons[i]);
    }
    EXPECT_EQ(names.count("unknown"), 0u);
    for (CalibrationRun run : kRuns) EXPECT_EQ(RunNamed(RunName(run)), run) << RunName(run);
    for (const char* other : {"", "Current", "segmented ", "unknown"}) EXPECT_FALSE(RunNamed(other)) << other;
}

// Files the image library cannot use, files that are no regular files (a
// FIFO would block the read for good), and headers that claim more than the
// reader takes or the file holds, are skipped with a warning that says why;
// the results are those of the usable images.
TEST_F(CxxInterface, UnusableFilesAreSkippedWithAWarning) {
    ffc::testing::TempFolder cluttered;
    std::vector<cv::String> files;
    cv::glob(folder_->path() + "*.bmp", files);
    for (const cv::String& file : files) {
        std::filesystem::copy_file(file, cluttered.path() + std::filesystem::path(file).filename().string());
    }
    const std::string& dir = cluttered.path();
    std::ofstream(dir + "notes.bmp") << "not an image";
    ASSERT_EQ(::mkfifo((dir + "pipe.bmp").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir + "pipe.bmp", dir + "to_pipe.bmp");
    const cv::Mat small(4, 64, CV_8UC1, cv::Scalar(9));
    cv::imwrite(dir + "small.bmp", small);
    ffc::testing::WriteBytes(dir + "huge.bmp", ffc::testing::EncodedClaiming(".bmp", small, 100000, 100000));
    ffc::testing::WriteBytes(dir + "cut.bmp", ffc::testing::EncodedClaiming(".bmp", small, kHeight, kWidth));
    std::vector<std::string> warnings;
    const Calibration calibration = CalibrateFolder(dir, SettingsFor(CalibrationRun::kCurrent), &warnings);
    EXPECT_EQ(calibration.Serialize(), calibrations_[0].Serialize());
    std::string all;
    for (const std::string& warning : warnings) all += warning + "\n";
    EXPECT_EQ(warnings.size(), 6u) << all;
    for (const char* expected :
         {"skipped notes.bmp: not an image the image library can read", "skipped pipe.bmp: not a regular file",
          "skipped to_pipe.bmp: not a regular file", "skipped small.bmp: 64 x 4",
          "skipped huge.bmp: larger than", "skipped cut.bmp: cut short"}) {
        EXPECT_NE(all.find(expected), std::string::npos) << all;
    }
}

}  // namespace
}  // namespace vyrffc
