#include "support/image_files.h"

#include <fstream>

#include <opencv2/imgcodecs.hpp>

namespace ffc::testing {

namespace {

void Store(std::vector<uchar>& bytes, size_t at, uint32_t value, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        bytes.at(at + i) = static_cast<uchar>(value >> shift);
    }
}

}  // namespace

std::vector<uchar> EncodedClaiming(const std::string& extension, const cv::Mat& image, int rows, int cols) {
    std::vector<uchar> bytes;
    cv::imencode(extension, image, bytes);
    if (rows == 0 && cols == 0) return bytes;
    // BMP: little-endian width and height at 18; PNG: big-endian, in the
    // first chunk, at 16.
    const bool png = extension == ".png";
    Store(bytes, png ? 16 : 18, static_cast<uint32_t>(cols), png);
    Store(bytes, png ? 20 : 22, static_cast<uint32_t>(rows), png);
    return bytes;
}

void WriteBytes(const std::string& path, const std::vector<uchar>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace ffc::testing
