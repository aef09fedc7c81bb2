// The verdict on a calibration set, on simulated sets: a good one passes
// without a warning, a narrow band of mid-gray levels and frames of a scene
// are each told apart with the warning that says what to do.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VyrCISFlatfieldCorrection.hpp"
#include "cis_simulator.h"

namespace vyrffc {
namespace {

cissim::SimulatorOptions Options() {
    cissim::SimulatorOptions options;
    options.width = 512;
    options.height = 16;
    options.darkColumns = 3;  // half a percent of the line, as on a module of a few thousand columns
    return options;
}

std::vector<cv::Mat> FlatImages(const cissim::CisCamera& camera, const std::vector<double>& lights) {
    std::vector<cv::Mat> images;
    for (size_t i = 0; i < lights.size(); ++i) images.push_back(cissim::RenderFlatImage(camera, lights[i], 100 + i));
    return images;
}

// Frames of objects passing under the line: the light each column sees
// changes from row to row and smoothly along the line, as a scene does.
std::vector<cv::Mat> SceneFrames(const cissim::CisCamera& camera, int count) {
    std::mt19937 generator(5);
    std::normal_distribution<double> noise(0.0, 0.8);
    const std::vector<double> dark = cissim::ExpectedColumnValues(camera, 0.0);
    std::vector<cv::Mat> frames;
    for (int f = 0; f < count; ++f) {
        const std::vector<double> lit = cissim::ExpectedColumnValues(camera, 60.0 + 270.0 * f / (count - 1));
        cv::Mat frame(camera.options.height, camera.options.width, CV_8UC1);
        for (int r = 0; r < frame.rows; ++r) {
            for (int c = 0; c < frame.cols; ++c) {
                const double reflectance = 0.6 + 0.3 * std::sin(c / 23.0 + r * 0.4 + f) * std::cos(c / 71.0 - r * 0.15);
                const double value = dark[c] + reflectance * (lit[c] - dark[c]) + noise(generator);
                frame.at<uint8_t>(r, c) = cv::saturate_cast<uint8_t>(std::lround(value));
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

CalibrationSetVerdict Judge(const std::vector<cv::Mat>& images, CalibrationRun run = CalibrationRun::kCurrent) {
    Settings settings;
    settings.run = run;
    settings.groupWidth = 32;
    return AssessCalibrationSet(CalibrateImages(images, settings), images);
}

bool Warns(const CalibrationSetVerdict& verdict, const std::string& words) {
    for (const std::string& warning : verdict.warnings) {
        if (warning.find(words) != std::string::npos) return true;
    }
    return false;
}

TEST(CalibrationSetVerdict, GoodSetPassesInEveryRun) {
    const cissim::CisCamera camera = cissim::MakeCamera(Options());
    std::vector<cv::Mat> images = FlatImages(camera, cissim::CalibrationLightLevels(camera.options));
    for (CalibrationRun run : {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented}) {
        const CalibrationSetVerdict v = Judge(images, run);
        EXPECT_TRUE(v.warnings.empty()) << RunName(run) << ": " << v.warnings.front();
        EXPECT_GT(v.levelsInside, 20);
        EXPECT_FALSE(v.extrapolatesLow || v.extrapolatesHigh);
        EXPECT_EQ(v.sceneLikeImages, 0);
        EXPECT_LT(v.residualNonUniformity, 0.015);
    }
    // An image of another size is left out and said so.
    Settings settings;
    settings.groupWidth = 32;
    const Calibration calibration = CalibrateImages(images, settings);
    images.push_back(cv::Mat(4, 4, CV_8UC1, cv::Scalar(9)));
    const CalibrationSetVerdict v = AssessCalibrationSet(calibration, images);
    EXPECT_EQ(v.skippedImages, 1);
    EXPECT_EQ(v.images.size(), images.size() - 1);
    EXPECT_TRUE(Warns(v, "not 8-bit gray"));
    EXPECT_THROW(AssessCalibrationSet(calibration, {}), Error);
}

// What the set leaves is kept with the calibration, through its file, and
// read at any level between two kept ones.
TEST(CalibrationSetVerdict, KeptResidualsAreReadBackBetweenTheirLevels) {
    const cissim::CisCamera camera = cissim::MakeCamera(Options());
    const std::vector<cv::Mat> images = FlatImages(camera, cissim::CalibrationLightLevels(camera.options));
    Settings settings;
    settings.groupWidth = 32;
    const Calibration calibration = CalibrateImages(images, settings);
    const CalibrationSetVerdict v = AssessCalibrationSet(calibration, images);
    const Results kept = Calibration::Deserialize(KeepSetResiduals(calibration, v).Serialize()).results();
    size_t measured = 0;
    for (const CalibrationImageAssessment& a : v.images) measured += !std::isnan(a.residualNonUniformity);
    ASSERT_EQ(kept.setResiduals.size(), measured);
    ASSERT_GT(measured, 2u);

    const LevelResidual& low = kept.setResiduals[1];
    const LevelResidual& high = kept.setResiduals[2];
    EXPECT_FLOAT_EQ(SetResidualAt(kept, low.level), low.nonUniformity);
    EXPECT_FLOAT_EQ(SetResidualAt(kept, (low.level + high.level) / 2.0),
                    (low.nonUniformity + high.nonUniformity) / 2.0);
    EXPECT_TRUE(std::isnan(SetResidualAt(kept, kept.setResiduals.front().level - 0.5)));
    EXPECT_TRUE(std::isnan(SetResidualAt(kept, kept.setResiduals.back().level + 0.5)));
    EXPECT_TRUE(std::isnan(SetResidualAt(calibration.results(), low.level)));
}

// 16 mid-gray images, as a target lit at one setting gives.
TEST(CalibrationSetVerdict, NarrowBandOfLevelsIsWarned) {
    const cissim::CisCamera camera = cissim::MakeCamera(Options());
    std::vector<double> lights;
    for (int i = 0; i < 16; ++i) lights.push_back(100.0 + 3.0 * i);
    const CalibrationSetVerdict v = Judge(FlatImages(camera, lights));
    EXPECT_TRUE(Warns(v, "levels lie inside the fitting range"));
    EXPECT_TRUE(Warns(v, "no level lies near both ends"));
    EXPECT_FALSE(Warns(v, "like a scene"));
}

// Frames of a scene over the whole range of levels: only their rows give
// them away, and the residual they leave.
TEST(CalibrationSetVerdict, SceneFramesAreWarned) {
    const cissim::CisCamera camera = cissim::MakeCamera(Options());
    const CalibrationSetVerdict v = Judge(SceneFrames(camera, 24));
    EXPECT_EQ(v.sceneLikeImages, 24);
    EXPECT_TRUE(Warns(v, "like a scene, not a flat target"));
    EXPECT_TRUE(Warns(v, "non-uniform"));
}

}  // namespace
}  // namespace vyrffc
