#include "VyrCISFlatfieldCorrection.h"
#include "cis_simulator.h"
#include "imageset/image_set.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

namespace ffc {
namespace {

FlatFieldCorrectionInstance InstanceFor(const std::string& folder, int height, int width) {
    FlatFieldCorrectionInstance instance;
    SetFlatFieldCorrectionParameters(&instance, folder, {0}, height, width);
    return instance;
}

// The images of the configured size, in listing order, each profiled as read
// in gray: colour files are kept as gray, every other size is skipped.
TEST(LoadCalibrationProfiles, KeepsImagesOfTheSizeInListingOrderAndColourAsGray) {
    cissim::SimulatorOptions options;
    options.width = 64;
    options.height = 4;
    options.levels = 5;
    testing::TempFolder folder;
    const std::vector<std::string> levels = cissim::WriteCalibrationFolder(folder.path(), options);
    cissim::WriteDecoy(folder.path(), cissim::Decoy::WrongSize, options);
    cissim::WriteDecoy(folder.path(), cissim::Decoy::NotAnImage, options);
    const std::string colour = cissim::WriteDecoy(folder.path(), cissim::Decoy::Colour, options);
    cv::imwrite(folder.path() + "one_row_more.bmp", cv::Mat(5, 64, CV_8UC1, cv::Scalar(40)));
    cv::imwrite(folder.path() + "tinted.bmp", cv::Mat(4, 64, CV_8UC3, cv::Scalar(10, 100, 200)));
    // A header that claims 100,000 x 100,000 pixels, on which the reader throws.
    std::vector<uchar> huge;
    cv::imencode(".bmp", cv::Mat(4, 64, CV_8UC1, cv::Scalar(1)), huge);
    for (int field : {18, 22}) std::copy_n("\xA0\x86\x01", 3, huge.begin() + field);
    std::ofstream(folder.path() + "zz_huge.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(huge.data()), static_cast<std::streamsize>(huge.size()));

    const std::vector<std::vector<float>> profiles = LoadCalibrationProfiles(InstanceFor(folder.path(), 4, 64));
    // decoy_colour.bmp, level_000..004.bmp, tinted.bmp, in name order.
    std::vector<std::string> kept = {colour};
    kept.insert(kept.end(), levels.begin(), levels.end());
    ASSERT_EQ(profiles.size(), kept.size() + 1);
    for (size_t k = 0; k < kept.size(); ++k) {
        EXPECT_EQ(profiles[k], ColumnProfile(cv::imread(kept[k], cv::IMREAD_GRAYSCALE), 64)) << kept[k];
    }
    // Blue 10, green 100, red 200 weigh to a gray of about 120.
    EXPECT_NEAR(profiles.back()[0], 120.0f, 1.0f);
}

// Files saved as calibration images are averaged from their own bytes: the
// values of reading them, for every byte value and row padding; other sizes
// and cut files are refused exactly when reading refuses them.
TEST(ProfileOfFile, GivesTheProfileOfTheReadImage) {
    testing::TempFolder folder;
    std::vector<uint8_t> buffer;
    for (int cols = 37; cols <= 37 * 9; cols += 37) {
        cv::Mat image(cols / 37 + 2, cols, CV_8UC1);
        cv::randu(image, 0, 256);
        const std::string path = folder.path() + std::to_string(cols) + ".bmp";
        cv::imwrite(path, image);
        EXPECT_EQ(ProfileOfFile(path, image.rows, cols, buffer).value(), ColumnProfile(image, cols));
        EXPECT_FALSE(ProfileOfFile(path, image.rows + 1, cols, buffer).has_value());
        std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1);
        EXPECT_EQ(ProfileOfFile(path, image.rows, cols, buffer).has_value(),
                  !ReadCalibrationImage(path, image.rows, cols).empty());
    }
    // A palette other than the gray ramp in any channel: its pixel bytes are
    // not gray values, and the result is the reader's conversion.
    const cv::Mat image(3, 40, CV_8UC1, cv::Scalar(200));
    for (int channel = 0; channel < 3; ++channel) {
        std::vector<uchar> bytes;
        cv::imencode(".bmp", image, bytes);
        bytes[54 + 4 * 200 + channel] = 10;
        const std::string path = folder.path() + "palette" + std::to_string(channel) + ".bmp";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        EXPECT_EQ(ProfileOfFile(path, 3, 40, buffer).value(), ColumnProfile(ReadCalibrationImage(path, 3, 40), 40));
    }
}

TEST(LoadCalibrationProfiles, FolderIsAPrefixAndAMissingFolderListsNothing) {
    testing::TempFolder outer;
    const std::string inner = outer.path() + "calib";
    std::filesystem::create_directories(inner);
    const cv::Mat flat(4, 8, CV_8UC1, cv::Scalar(90));
    cv::imwrite(inner + "/level_0.bmp", flat);
    cv::imwrite(inner + "/level_1.bmp", flat);
    cv::imwrite(outer.path() + "calib_beside.bmp", flat);

    EXPECT_EQ(LoadCalibrationProfiles(InstanceFor(inner + "/", 4, 8)).size(), 2u);
    const std::vector<std::string> beside = ListCalibrationFiles(inner);
    ASSERT_EQ(beside.size(), 1u);
    EXPECT_EQ(std::filesystem::path(beside[0]).filename(), "calib_beside.bmp");
    // A folder removed after the parameters were set lists no files instead
    // of raising the listing's error, so the runs answer false.
    EXPECT_TRUE(ListCalibrationFiles(outer.path() + "missing/").empty());
}

TEST(ColumnProfile, MeansEveryColumnOverAllRows) {
    cv::Mat alternating(6, 3, CV_8UC1, cv::Scalar(200));
    for (int r = 0; r < alternating.rows; r += 2) alternating.at<uint8_t>(r, 1) = 0;
    for (int r = 1; r < alternating.rows; r += 2) alternating.at<uint8_t>(r, 1) = 255;
    for (const std::vector<float>& profile :
         {ColumnProfile(alternating, 3), ColumnProfileByReduction(alternating, 3)}) {
        EXPECT_EQ(profile, (std::vector<float>{200.0f, 127.5f, 200.0f}));
    }
}

}  // namespace
}  // namespace ffc
