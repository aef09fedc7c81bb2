// Images to correct, read for every host of the C++ interface: checked by
// the one image reader, then held to what a correction takes.
#include <string>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "imageset/image_file.h"

namespace vyrffc {

namespace {

[[noreturn]] void FailToRead(const std::string& path, ffc::ImageFileStatus status) {
    using ffc::ImageFileStatus;
    std::string message;
    switch (status) {
        case ImageFileStatus::kMissing: message = path + " does not exist"; break;
        case ImageFileStatus::kNotRegular: message = path + " is not a regular file"; break;
        case ImageFileStatus::kUnopenable: message = path + " cannot be opened or read"; break;
        case ImageFileStatus::kTooLarge:
            message = path + " is larger than any 8-bit gray image the image library reads (" +
                      std::to_string(ffc::kLargestImageSide) + " rows or columns, " +
                      std::to_string(ffc::kLargestImagePixels) + " pixels)";
            break;
        case ImageFileStatus::kCutShort:
            message = "cannot read " + path + " as an image: it ends before what its header describes";
            break;
        case ImageFileStatus::kOutOfMemory:
            message = "cannot read " + path + " as an image: not enough memory to decode it";
            break;
        default: message = "cannot read " + path + " as an image"; break;
    }
    throw Error(ErrorReason::kFileUnreadable, message);
}

}  // namespace

void ReadImageToCorrect(const std::string& path, cv::Mat& image, std::vector<uint8_t>& fileBytes) {
    ffc::InputFile file;
    ffc::ImageHeader header;
    ffc::ImageFileStatus status = ffc::OpenImageFile(path, ffc::kLargestGrayImageFile, file, header,
                                                        ffc::NameEncoding::kUtf8);
    if (status == ffc::ImageFileStatus::kRead) status = ffc::DecodeStored(file, header, fileBytes, image);
    if (status != ffc::ImageFileStatus::kRead) {
        image.release();
        FailToRead(path, status);
    }
    if (image.channels() != 1) {
        throw Error(ErrorReason::kImageUnusable, path + " has " + std::to_string(image.channels()) +
                                                     " channels; only 8-bit gray images can be corrected");
    }
    if (image.depth() != CV_8U) {
        throw Error(ErrorReason::kImageUnusable, path + " is not 8-bit (" + std::to_string(8 * image.elemSize1()) +
                                                     "-bit); only 8-bit gray images can be corrected");
    }
}

cv::Mat ReadImageToCorrect(const std::string& path) {
    cv::Mat image;
    std::vector<uint8_t> fileBytes;
    ReadImageToCorrect(path, image, fileBytes);
    return image;
}

}  // namespace vyrffc
