#include "api/image_list.h"

#include <filesystem>
#include <system_error>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "imageset/image_set.h"

namespace vyrffc {

namespace {

namespace fs = std::filesystem;

ListedImage Profiled(std::string name, const cv::Mat& image) {
    ListedImage listed;
    listed.name = std::move(name);
    listed.rows = image.rows;
    listed.cols = image.cols;
    if (image.empty()) {
        listed.problem = "not an image the image library can read";
    } else {
        listed.profile = ffc::ColumnProfile(image, image.cols);
    }
    return listed;
}

}  // namespace

std::string SizeText(int32_t height, int32_t width) {
    return std::to_string(width) + " x " + std::to_string(height);
}

ImageList ReadFolderImages(const std::string& folder) {
    std::error_code error;
    if (!fs::exists(folder, error)) throw Error(ErrorReason::kFolderMissing, "the folder " + folder + " does not exist");
    if (!fs::is_directory(folder, error)) throw Error(ErrorReason::kFolderMissing, folder + " is not a folder");
    ImageList list;
    list.source = folder.back() == '/' ? folder : folder + '/';
    std::vector<std::string> paths;
    try {
        paths = ffc::ListCalibrationFiles(list.source);
    } catch (const cv::Exception& e) {
        throw Error(ErrorReason::kFolderMissing, "the folder " + folder + " cannot be listed: " + e.err);
    }
    std::vector<uint8_t> buffer;
    for (const std::string& path : paths) {
        ffc::CalibrationFile read = ffc::ReadCalibrationFile(path, 0, 0, buffer);
        ListedImage listed;
        listed.name = fs::path(path).filename().string();
        if (read.status == ffc::ImageFileStatus::kRead) {
            listed.rows = read.rows;
            listed.cols = read.cols;
            listed.profile = std::move(read.profile);
        } else {
            listed.problem = ffc::DescribeImageFileStatus(read.status);
        }
        list.images.push_back(std::move(listed));
    }
    return list;
}

ImageList ProfileImages(const std::vector<cv::Mat>& images) {
    ImageList list;
    list.source = "memory";
    list.inMemory = true;
    for (size_t i = 0; i < images.size(); ++i) {
        const std::string name = "image " + std::to_string(i);
        if (!images[i].empty() && images[i].type() != CV_8UC1) {
            throw Error(ErrorReason::kImageUnusable,
                        name + " is not an 8-bit single-channel image; convert it to gray first");
        }
        list.images.push_back(Profiled(name, images[i]));
    }
    return list;
}

}  // namespace vyrffc
