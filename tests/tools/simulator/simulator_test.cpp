#include "cis_simulator.h"
#include "imageset/image_set.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numeric>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

namespace cissim {
namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(SimulatorFolder, SameSeedGivesIdenticalFilesAndAnotherSeedDiffers) {
    SimulatorOptions options;
    options.width = 300;
    options.height = 4;
    options.levels = 6;
    ffc::testing::TempFolder first, second, third;
    const std::vector<std::string> a = WriteCalibrationFolder(first.path(), options);
    const std::vector<std::string> b = WriteCalibrationFolder(second.path(), options);
    options.seed = 2;
    const std::vector<std::string> c = WriteCalibrationFolder(third.path(), options);
    ASSERT_TRUE(a.size() == 6 && b.size() == 6 && c.size() == 6);
    for (size_t k = 0; k < a.size(); ++k) {
        EXPECT_EQ(FileBytes(a[k]), FileBytes(b[k])) << a[k];
        // The brightest level may be 255 everywhere whatever the seed.
        if (k + 1 < a.size()) EXPECT_NE(FileBytes(a[k]), FileBytes(c[k])) << a[k];
    }
}

// What a profiled folder must show for the calibration to have something to
// find: chips, ripple at mid levels, dark columns, saturation at the top.
// Each test writes its own small folder: a few milliseconds.
class SimulatedModule : public ::testing::Test {
protected:
    static constexpr int kWidth = 1024;

    SimulatedModule() {
        options_.width = kWidth;
        options_.height = 8;
        options_.levels = 48;
        options_.chips = 4;
        options_.darkColumns = 4;
        options_.seed = 11;
        paths_ = WriteCalibrationFolder(folder_.path(), options_);
        FlatFieldCorrectionInstance instance;
        instance.imageFolder = folder_.path();
        instance.imageWidth = kWidth;
        instance.imageHeight = options_.height;
        profiles_ = ffc::LoadCalibrationProfiles(instance);
        camera_ = MakeCamera(options_);
    }

    // Mean of the middle 16 columns, where no dark column lies.
    static double Reference(const std::vector<float>& profile) {
        return std::accumulate(profile.begin() + kWidth / 2 - 8, profile.begin() + kWidth / 2 + 8, 0.0) / 16.0;
    }

    size_t LevelNearest(double reference) const {
        const auto closer = [&](const std::vector<float>& a, const std::vector<float>& b) {
            return std::fabs(Reference(a) - reference) < std::fabs(Reference(b) - reference);
        };
        return std::min_element(profiles_.begin(), profiles_.end(), closer) - profiles_.begin();
    }

    SimulatorOptions options_;
    ffc::testing::TempFolder folder_;
    std::vector<std::string> paths_;
    std::vector<std::vector<float>> profiles_;
    CisCamera camera_;
};

// Over a stretch of one chip: the mean length of the runs above and below the
// stretch's mean, and the spread of its values.
struct Ripple {
    double meanRun = 0.0;
    double spread = 0.0;
};

Ripple MeasureRipple(const std::vector<double>& values) {
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / values.size();
    int runs = 1;
    for (size_t i = 1; i < values.size(); ++i) runs += (values[i] > mean) != (values[i - 1] > mean);
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return {static_cast<double>(values.size()) / runs, *high - *low};
}

TEST_F(SimulatedModule, ListsOneImagePerLevelRisingUntilTheLastImagesSaturate) {
    ASSERT_EQ(profiles_.size(), 48u);
    EXPECT_TRUE(std::is_sorted(paths_.begin(), paths_.end()));
    for (size_t k = 1; k < profiles_.size(); ++k) EXPECT_GE(Reference(profiles_[k]), Reference(profiles_[k - 1]) - 0.5);
    for (size_t k = profiles_.size() - 3; k < profiles_.size(); ++k) {
        EXPECT_GT(std::count(profiles_[k].begin(), profiles_[k].end(), 255.0f), kWidth * 95 / 100) << "level " << k;
    }
    const std::vector<float>& mid = profiles_[LevelNearest(200.0)];
    EXPECT_LT(*std::max_element(mid.begin(), mid.end()), 255.0f);
}

TEST_F(SimulatedModule, NeighbouringChipsDifferInDarkOffset) {
    std::vector<int> bounds = camera_.chipFirstColumn;
    bounds.push_back(kWidth);
    std::vector<double> chipMeans;
    for (size_t k = 0; k + 1 < bounds.size(); ++k) {
        std::vector<double> dark;
        for (int c = bounds[k]; c < bounds[k + 1]; ++c) {
            if (camera_.darkThreshold[c] <= 0) dark.push_back(profiles_.front()[c]);
        }
        chipMeans.push_back(std::accumulate(dark.begin(), dark.end(), 0.0) / dark.size());
        EXPECT_GT(chipMeans.back(), 1.0);
    }
    for (size_t k = 1; k < chipMeans.size(); ++k) EXPECT_GT(std::fabs(chipMeans[k] - chipMeans[k - 1]), 0.5);
}

// Inner chips only: towards the ends of the line the light fall-off tilts the
// stretch.
TEST_F(SimulatedModule, RippleAlternatesInsideChipsGrowsWithLightAndVanishesInSaturation) {
    const size_t dim = LevelNearest(40.0);
    const size_t mid = LevelNearest(128.0);
    for (size_t k = 1; k + 1 < camera_.chipFirstColumn.size(); ++k) {
        const int centre = camera_.chipFirstColumn[k] + kWidth / 8;
        std::vector<double> atDim, atMid, atTop;
        for (int c = centre - 30; c < centre + 30; ++c) {
            if (camera_.darkThreshold[c] > 0) continue;
            atDim.push_back(profiles_[dim][c]);
            atMid.push_back(profiles_[mid][c]);
            atTop.push_back(profiles_.back()[c]);
        }
        const Ripple ripple = MeasureRipple(atMid);
        EXPECT_GE(ripple.meanRun, 3.0) << "chip " << k;
        EXPECT_LE(ripple.meanRun, 6.5) << "chip " << k;
        EXPECT_GT(ripple.spread, 6.0) << "chip " << k;
        EXPECT_GT(ripple.spread, 2.0 * MeasureRipple(atDim).spread) << "chip " << k;
        EXPECT_EQ(MeasureRipple(atTop).spread, 0.0) << "chip " << k;
    }
}

TEST_F(SimulatedModule, DarkColumnsReadZeroAtLowLevelsWhileTheReferenceRises) {
    const std::vector<double> lights = CalibrationLightLevels(options_);
    int darkColumns = 0;
    for (int c = 0; c < kWidth; ++c) {
        if (camera_.darkThreshold[c] <= 0) continue;
        ++darkColumns;
        double lowest = 255, highest = 0;
        for (size_t k = 0; k < lights.size() && lights[k] < 0.8 * camera_.darkThreshold[c]; ++k) {
            EXPECT_LT(profiles_[k][c], 1.0) << "column " << c << " level " << k;
            lowest = std::min(lowest, Reference(profiles_[k]));
            highest = std::max(highest, Reference(profiles_[k]));
        }
        EXPECT_GT(highest - lowest, 5.0) << "column " << c;
        EXPECT_GT(profiles_[LevelNearest(128.0)][c], 50.0) << "column " << c;
    }
    EXPECT_EQ(darkColumns, 4);
}

TEST(SimulatorHeldOut, ImagesSpreadOverTheUnsaturatedRange) {
    SimulatorOptions options;
    options.width = 256;
    options.height = 4;
    ffc::testing::TempFolder folder;
    const std::vector<std::string> paths = WriteHeldOutImages(folder.path(), options, 4);
    ASSERT_EQ(paths.size(), 4u);
    std::vector<double> means;
    for (const std::string& path : paths) {
        const cv::Mat image = cv::imread(path, cv::IMREAD_UNCHANGED);
        ASSERT_EQ(image.type(), CV_8UC1) << path;
        ASSERT_EQ(image.size(), cv::Size(256, 4)) << path;
        EXPECT_EQ(cv::countNonZero(image == 255), 0) << path;
        means.push_back(cv::mean(image)[0]);
    }
    EXPECT_GT(means.back(), means.front() + 100.0);
}

}  // namespace
}  // namespace cissim
