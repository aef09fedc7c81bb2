#include "cis_simulator.h"
#include "imageset/image_set.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>

#include <gtest/gtest.h>

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
    options.levels = 3;
    ffc::testing::TempFolder first, second, third;
    const std::vector<std::string> a = WriteCalibrationFolder(first.path(), options);
    const std::vector<std::string> b = WriteCalibrationFolder(second.path(), options);
    options.seed = 2;
    const std::vector<std::string> c = WriteCalibrationFolder(third.path(), options);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(FileBytes(a[k]), FileBytes(b[k])) << a[k];
    EXPECT_NE(FileBytes(a[1]), FileBytes(c[1]));
}

// What the calibration needs to find in a profiled folder: levels rising
// image by image until the last ones saturate, and dark columns that read 0
// over several reference levels at the bottom but respond at mid levels.
TEST(SimulatorFolder, LevelsRiseToSaturationAndDarkColumnsReadZeroAtTheBottom) {
    constexpr int kWidth = 1024;
    SimulatorOptions options;
    options.width = kWidth;
    options.height = 8;
    options.levels = 48;
    options.darkColumns = 4;
    ffc::testing::TempFolder folder;
    WriteCalibrationFolder(folder.path(), options);
    FlatFieldCorrectionInstance instance;
    instance.imageFolder = folder.path();
    instance.imageWidth = kWidth;
    instance.imageHeight = options.height;
    const std::vector<std::vector<float>> profiles = ffc::LoadCalibrationProfiles(instance);
    ASSERT_EQ(profiles.size(), 48u);

    // The middle 16 columns hold no dark column.
    auto reference = [](const std::vector<float>& p) {
        return std::accumulate(p.begin() + kWidth / 2 - 8, p.begin() + kWidth / 2 + 8, 0.0) / 16.0;
    };
    for (size_t k = 1; k < profiles.size(); ++k) EXPECT_GE(reference(profiles[k]), reference(profiles[k - 1]) - 0.5);
    EXPECT_GT(std::count(profiles.back().begin(), profiles.back().end(), 255.0f), kWidth * 95 / 100);

    const CisCamera camera = MakeCamera(options);
    const std::vector<double> lights = CalibrationLightLevels(options);
    int darkColumns = 0;
    for (int c = 0; c < kWidth; ++c) {
        if (camera.darkThreshold[c] <= 0) continue;
        ++darkColumns;
        std::vector<double> levelsAtZero;
        for (size_t k = 0; k < lights.size() && lights[k] < 0.8 * camera.darkThreshold[c]; ++k) {
            EXPECT_LT(profiles[k][c], 1.0) << "column " << c << " level " << k;
            levelsAtZero.push_back(reference(profiles[k]));
        }
        ASSERT_FALSE(levelsAtZero.empty());
        EXPECT_GT(levelsAtZero.back() - levelsAtZero.front(), 5.0) << "column " << c;
        EXPECT_GT(profiles[profiles.size() / 2][c], 50.0) << "column " << c;
    }
    EXPECT_EQ(darkColumns, 4);
}

}  // namespace
}  // namespace cissim
