// The images the tool reads: which files count as images, folders standing
// for their images, and the one rule for what a calibration can correct.
#ifndef CISFFC_IMAGES_H
#define CISFFC_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace cisffc {

// A folder of flat images may hold one image taken without light under this
// name: the dark reference of the sensor figures, never measured as a flat.
constexpr const char* kDarkImageName = "dark.bmp";

// The name's extension in lower case, with its dot (".png").
std::string ImageExtension(const std::string& path);

// A name ending in .bmp, .png, .tif or .tiff, in any case.
bool IsImageName(const std::string& path);

// The folder's *.bmp files in name order; `withDark` keeps the dark image.
std::vector<std::string> ListBitmaps(const std::string& folder, bool withDark = true);

// Files stay as given; a folder stands for its .bmp, .png and .tif files, in
// name order. A name that does not exist ends the command.
std::vector<std::string> ExpandInputs(const std::vector<std::string>& arguments);

// The buffers an image passes through, kept from one image of a batch to the
// next: the batch then allocates its memory, and the system maps it in, once
// rather than once per image.
struct ImageBuffers {
    std::vector<uchar> file;
    cv::Mat raw;
    cv::Mat corrected;
    std::vector<uchar> encoded;
};

// Reads an image as stored into buffers.raw through the library's reader
// (sized and checked before it is read whole) and refuses, naming the file,
// what cannot be read or what a calibration for `width` columns cannot
// correct: colour, more than 8 bits, another width. Nothing is converted.
// Every failure, memory included, is a ToolError for this one image.
void ReadCorrectable(const std::string& path, int32_t width, ImageBuffers& buffers);
cv::Mat ReadCorrectable(const std::string& path, int32_t width);

}  // namespace cisffc

#endif  // CISFFC_IMAGES_H
