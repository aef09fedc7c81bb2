#include "VyrCISFlatfieldCorrection.h"
#include "cis_simulator.h"
#include "imageset/image_set.h"
#include "instance/instance.h"
#include "support/image_files.h"
#include "support/temp_folder.h"

#include <sys/stat.h>

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
    testing::WriteBytes(folder.path() + "zz_huge.bmp",
                        testing::EncodedClaiming(".bmp", cv::Mat(4, 64, CV_8UC1, cv::Scalar(1)), 100000, 100000));

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
        std::vector<uchar> bytes = testing::EncodedClaiming(".bmp", image);
        bytes[54 + 4 * 200 + channel] = 10;
        const std::string path = folder.path() + "palette" + std::to_string(channel) + ".bmp";
        testing::WriteBytes(path, bytes);
        EXPECT_EQ(ProfileOfFile(path, 3, 40, buffer).value(), ColumnProfile(ReadCalibrationImage(path, 3, 40), 40));
    }
    // Colour rows and rows stored top-down are left to the reader, whole;
    // cut by a byte, they are refused from their header as it refuses them.
    cv::Mat colour(3, 41, CV_8UC3), topDown(3, 41, CV_8UC1);
    cv::randu(colour, 0, 256);
    cv::randu(topDown, 0, 256);
    std::vector<uchar> topDownBytes = testing::EncodedClaiming(".bmp", topDown, -3, 41);
    for (std::vector<uchar> bytes : {testing::EncodedClaiming(".bmp", colour), topDownBytes}) {
        const std::string path = folder.path() + "other_rows.bmp";
        testing::WriteBytes(path, bytes);
        const cv::Mat read = ReadCalibrationImage(path, 3, 41);
        ASSERT_FALSE(read.empty());
        EXPECT_EQ(ProfileOfFile(path, 3, 41, buffer).value(), ColumnProfile(read, 41));
        bytes.pop_back();
        testing::WriteBytes(path, bytes);
        EXPECT_TRUE(ReadCalibrationImage(path, 3, 41).empty());
        EXPECT_EQ(ReadCalibrationFile(path, 3, 41, buffer).status, ImageFileStatus::kCutShort);
    }
}

// Every kind of file that may be named like a calibration image: special
// files are never read (a FIFO would block the run for good), sizes are
// judged from the header and the file's length before any pixel is read,
// and each file is refused exactly when reading it whole would refuse it.
// Sparse files stand in for long ones.
TEST(ReadCalibrationFile, JudgesEachFileBeforeReadingItsPixels) {
    testing::TempFolder folder;
    const std::string& dir = folder.path();
    cv::Mat flat(4, 64, CV_8UC1);
    cv::randu(flat, 0, 256);
    cv::imwrite(dir + "good.bmp", flat);
    ASSERT_EQ(::mkfifo((dir + "fifo.bmp").c_str(), 0600), 0);
    std::filesystem::create_directory(dir + "folder.bmp");
    std::filesystem::create_symlink(dir + "fifo.bmp", dir + "link_to_fifo.bmp");
    std::ofstream(dir + "empty.bmp");
    testing::WriteBytes(dir + "huge.bmp", testing::EncodedClaiming(".bmp", flat, 100000, 100000));
    testing::WriteBytes(dir + "huge_png.bmp", testing::EncodedClaiming(".png", flat, 100000, 100000));
    testing::WriteBytes(dir + "claims_more.bmp", testing::EncodedClaiming(".bmp", flat, 3000, 3000));
    const std::vector<uchar> bytes = testing::EncodedClaiming(".bmp", flat);
    testing::WriteBytes(dir + "cut_header.bmp", std::vector<uchar>(bytes.begin(), bytes.begin() + 30));
    cv::imwrite(dir + "taller.bmp", cv::Mat(5, 64, CV_8UC1, cv::Scalar(1)));
    cv::imwrite(dir + "long.bmp", flat);
    std::filesystem::resize_file(dir + "long.bmp", uint64_t{3} << 30);
    std::ofstream(dir + "long_blank.bmp");
    std::filesystem::resize_file(dir + "long_blank.bmp", uint64_t{3} << 30);

    const std::pair<const char*, ImageFileStatus> cases[] = {
        {"good.bmp", ImageFileStatus::kRead},
        {"long.bmp", ImageFileStatus::kRead},
        {"fifo.bmp", ImageFileStatus::kNotRegular},
        {"folder.bmp", ImageFileStatus::kNotRegular},
        {"link_to_fifo.bmp", ImageFileStatus::kNotRegular},
        {"missing.bmp", ImageFileStatus::kMissing},
        {"empty.bmp", ImageFileStatus::kNotAnImage},
        {"long_blank.bmp", ImageFileStatus::kNotAnImage},
        {"huge.bmp", ImageFileStatus::kTooLarge},
        {"huge_png.bmp", ImageFileStatus::kTooLarge},
        {"claims_more.bmp", ImageFileStatus::kCutShort},
        {"cut_header.bmp", ImageFileStatus::kCutShort},
        {"taller.bmp", ImageFileStatus::kOtherSize},
    };
    std::vector<uint8_t> buffer;
    for (const auto& [name, status] : cases) {
        EXPECT_EQ(ReadCalibrationFile(dir + name, 4, 64, buffer).status, status) << name;
        EXPECT_EQ(ReadCalibrationImage(dir + name, 4, 64).empty(), status != ImageFileStatus::kRead) << name;
    }
    // Of a long file only the pixel rows its header places are read.
    EXPECT_LT(buffer.capacity(), 1u << 20);
    // The runs' listing goes through the FIFO and the rest without stopping.
    const std::vector<std::vector<float>> profiles = LoadCalibrationProfiles(InstanceFor(dir, 4, 64));
    EXPECT_EQ(profiles, std::vector<std::vector<float>>(2, ColumnProfile(flat, 64)));
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
