// Image files as every layer reads them: opened only when they are regular
// files, sized from their header and their length before any pixel is read,
// and decoded by the image library here and nowhere else.
#ifndef VYR_FFC_IMAGE_FILE_H
#define VYR_FFC_IMAGE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "platform/file_read.h"

namespace ffc {

// The largest image the image library decodes (its default limits).
constexpr uint64_t kLargestImageSide = uint64_t{1} << 20;
constexpr uint64_t kLargestImagePixels = uint64_t{1} << 30;
// No file holding an 8-bit gray image within those limits is longer: the
// pixels plus room for headers, palettes, row padding and format overhead.
constexpr uint64_t kLargestGrayImageFile = kLargestImagePixels + (uint64_t{1} << 26);

enum class ImageFileStatus {
    kRead,
    kMissing,        // nothing of that name (any more)
    kNotRegular,     // a folder, FIFO, device or socket
    kUnopenable,     // there, but it cannot be opened or read
    kTooLarge,       // its header gives a size beyond the limits, or the file is longer than any image allowed
    kCutShort,       // it ends before what its header describes
    kNotAnImage,     // no format the image library reads, or one it could not decode
    kLibraryFailed,  // the image library raised an error on it
    kOutOfMemory,    // decoding it needed more memory than there was
    kOtherSize,      // an image, but not of the size asked for
};

// The words that finish "NAME is ..." / "skipped NAME: ...", e.g. "not a
// regular file".
const char* DescribeImageFileStatus(ImageFileStatus status);

// What the first bytes of a BMP or PNG file tell; `known` is false for any
// other format and for headers the image library would not take as such.
struct ImageHeader {
    bool known = false;
    bool bmp = false;
    int64_t rows = 0;
    int64_t cols = 0;
    // Uncompressed BMP: where the pixel rows start, the bytes of one row with
    // its padding, and the end of the last row. 0 when not known.
    uint64_t pixelOffset = 0;
    uint64_t stride = 0;
    uint64_t placedEnd = 0;
    // An uncompressed, bottom-up, 8-bit BMP whose palette is the gray ramp
    // (entry i is gray i): each pixel byte is the gray value decoding gives.
    bool plainGray = false;
};

// Opens `path` and reads its header. kRead when it may be decoded: a regular
// file whose header, if known, is within the limits and whose length holds
// the pixels the header places and is at most `largestFile`.
ImageFileStatus OpenImageFile(const std::string& path, uint64_t largestFile, InputFile& file, ImageHeader& header,
                              NameEncoding encoding = NameEncoding::kHost);

// The opened file decoded as 8-bit gray, colour converted by the image
// library; an empty image with the status when it cannot be decoded. The
// library reads the file itself, as it needs, rather than a copy of it.
// std::bad_alloc passes through: a calibration that runs out of memory
// fails whole rather than going on without the image.
ImageFileStatus DecodeGray(const InputFile& file, const std::string& path, cv::Mat& image);

// The opened file decoded as stored (any depth or channel count), read whole
// into `bytes` (or up to the end of its last row for an uncompressed BMP).
// Both `bytes` and `image` keep their memory when it is large enough.
// Memory running out is kOutOfMemory: one image to correct fails, not the
// batch.
ImageFileStatus DecodeStored(const InputFile& file, const ImageHeader& header, std::vector<uint8_t>& bytes,
                             cv::Mat& image);

}  // namespace ffc

#endif  // VYR_FFC_IMAGE_FILE_H
