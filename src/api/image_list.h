// The images a calibration may use, read once each: from the "*.bmp" files
// of a folder or from images in memory, each reduced to its column profile
// (every column of the image) or marked with why it cannot be used.
#ifndef VYR_FFC_API_IMAGE_LIST_H
#define VYR_FFC_API_IMAGE_LIST_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace vyrffc {

struct ListedImage {
    std::string name;     // file name, or "image N" for images in memory
    int32_t rows = 0;
    int32_t cols = 0;
    std::vector<float> profile;
    std::string problem;  // empty when the image can be used
};

struct ImageList {
    std::string source;     // as messages name it: the folder with its trailing separator, or "memory"
    bool inMemory = false;  // given as images in memory, so there is no folder
    std::vector<ListedImage> images;
};

// An image size as messages give it: "width x height".
std::string SizeText(int32_t height, int32_t width);

// Throws kFolderMissing when `folder` does not exist, is not a folder or
// cannot be listed. Each file is read as the twelve functions read it (one
// reader for both); files that are not regular files, too large, cut short,
// or that the image library rejects or throws on, are listed with why.
ImageList ReadFolderImages(const std::string& folder);

// Throws kImageUnusable for an image that is not 8-bit single-channel.
ImageList ProfileImages(const std::vector<cv::Mat>& images);

}  // namespace vyrffc

#endif  // VYR_FFC_API_IMAGE_LIST_H
