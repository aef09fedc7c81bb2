// Images to correct, read from files: each kind of file a user may hand over
// is read as stored or refused with its reason before it is read whole.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "support/image_files.h"
#include "support/temp_folder.h"

namespace vyrffc {
namespace {

namespace fs = std::filesystem;

TEST(ReadImageToCorrect, ReadsGrayAsStoredAndRefusesEverythingElseWithItsReason) {
    ffc::testing::TempFolder folder;
    const std::string& dir = folder.path();
    cv::Mat gray(16, 300, CV_8UC1);
    cv::randu(gray, 0, 256);
    cv::imwrite(dir + "gray.png", gray);
    cv::imwrite(dir + "gray.bmp", gray);
    cv::imwrite(dir + "long.bmp", gray);
    fs::resize_file(dir + "long.bmp", uint64_t{3} << 30);  // sparse: the BMP places its last row early on
    cv::imwrite(dir + "colour.png", cv::Mat(16, 300, CV_8UC3, cv::Scalar(1, 2, 3)));
    cv::imwrite(dir + "deep.png", cv::Mat(16, 300, CV_16UC1, cv::Scalar(900)));
    ASSERT_EQ(::mkfifo((dir + "fifo.bmp").c_str(), 0600), 0);
    fs::create_directory(dir + "folder.png");
    std::ofstream(dir + "empty.png");
    std::ofstream(dir + "text.png") << "not an image";
    std::ofstream(dir + "long_blank.png");
    fs::resize_file(dir + "long_blank.png", uint64_t{3} << 30);
    ffc::testing::WriteBytes(dir + "huge.png", ffc::testing::EncodedClaiming(".png", gray, 100000, 100000));
    ffc::testing::WriteBytes(dir + "huge.bmp", ffc::testing::EncodedClaiming(".bmp", gray, 100000, 100000));
    ffc::testing::WriteBytes(dir + "cut.bmp", ffc::testing::EncodedClaiming(".bmp", gray, 3000, 3000));

    const std::vector<std::tuple<std::string, ErrorReason, std::string>> refused = {
        {"missing.png", ErrorReason::kFileUnreadable, "missing.png does not exist"},
        {"fifo.bmp", ErrorReason::kFileUnreadable, "fifo.bmp is not a regular file"},
        {"folder.png", ErrorReason::kFileUnreadable, "folder.png is not a regular file"},
        {"empty.png", ErrorReason::kFileUnreadable, "cannot read " + dir + "empty.png as an image"},
        {"text.png", ErrorReason::kFileUnreadable, "cannot read " + dir + "text.png as an image"},
        {"long_blank.png", ErrorReason::kFileUnreadable, "long_blank.png is larger than any 8-bit gray image"},
        {"huge.png", ErrorReason::kFileUnreadable, "huge.png is larger than any 8-bit gray image"},
        {"huge.bmp", ErrorReason::kFileUnreadable, "huge.bmp is larger than any 8-bit gray image"},
        {"cut.bmp", ErrorReason::kFileUnreadable, "ends before what its header describes"},
        {"colour.png", ErrorReason::kImageUnusable, "colour.png has 3 channels; only 8-bit gray"},
        {"deep.png", ErrorReason::kImageUnusable, "deep.png is not 8-bit (16-bit)"},
    };
    cv::Mat image;
    std::vector<uint8_t> bytes;
    for (const auto& [name, reason, words] : refused) {
        try {
            ReadImageToCorrect(dir + name, image, bytes);
            ADD_FAILURE() << name << " was read";
        } catch (const Error& error) {
            EXPECT_EQ(error.reason(), reason) << name;
            EXPECT_NE(std::string(error.what()).find(words), std::string::npos) << error.what();
        }
    }
    // A batch reads into the same memory each time; of a long BMP only what
    // its header places is read.
    ReadImageToCorrect(dir + "gray.png", image, bytes);
    const uchar* pixels = image.data;
    for (const char* name : {"gray.png", "gray.bmp", "long.bmp"}) {
        ReadImageToCorrect(dir + name, image, bytes);
        EXPECT_EQ(image.data, pixels) << name;
        ASSERT_EQ(image.type(), CV_8UC1) << name;
        EXPECT_EQ(cv::norm(image, gray, cv::NORM_INF), 0.0) << name;
    }
    EXPECT_LT(bytes.capacity(), 1u << 20);
}

}  // namespace
}  // namespace vyrffc
