#include "imageset/image_set.h"

#include "imageset/image_file.h"
#include "instance/instance.h"
#include "platform/file_read.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/filesystem.hpp>

namespace ffc {

namespace {

// The folder that the listing of `pattern` opens: everything before the last
// separator, or the current directory when there is none.
std::string ListedFolder(const std::string& pattern) {
#ifdef _WIN32
    const size_t separator = pattern.find_last_of("/\\");
#else
    const size_t separator = pattern.find_last_of('/');
#endif
    if (separator == std::string::npos) return ".";
    return pattern.substr(0, separator);
}

}  // namespace

std::vector<std::string> ListCalibrationFiles(const std::string& imageFolder) {
    const std::string pattern = imageFolder + "*.bmp";
    // A folder that is missing (or was removed after the parameters were set)
    // holds no images; the listing itself would raise an error for it.
    if (!cv::utils::fs::isDirectory(ListedFolder(pattern))) return {};
    std::vector<cv::String> files;
    cv::glob(pattern, files, false);
    return std::vector<std::string>(files.begin(), files.end());
}

cv::Mat ReadCalibrationImage(const std::string& path, int32_t imageHeight, int32_t imageWidth) {
    InputFile file;
    cv::Mat image;
    if (file.Open(path) != OpenStatus::kOpened || DecodeGray(file, path, image) != ImageFileStatus::kRead ||
        image.cols != imageWidth || image.rows != imageHeight) {
        return cv::Mat();
    }
    return image;
}

std::vector<float> ColumnProfileByReduction(const cv::Mat& image, int32_t imageWidth) {
    cv::Mat asFloat;
    image.convertTo(asFloat, CV_32F, 1.0, 0.0);
    cv::Mat mean;
    cv::reduce(asFloat, mean, 0, cv::REDUCE_AVG, -1);
    const float* row = mean.ptr<float>(0);
    return std::vector<float>(row, row + imageWidth);
}

namespace {

// Sums stay exact in float while rows * 255 < 2^24.
constexpr int kMaxExactRows = 65793;

// The mean of each of the first `width` columns of `rows` rows of 8-bit
// pixels, `stride` bytes apart from `firstRow` on (1 <= rows <= kMaxExactRows).
// Rows are summed in blocks whose sums fit 16 bits (256 * 255 < 2^16), two
// rows per pass: the additions run twice as wide as 32-bit sums and the
// block's sums stay in the first-level cache. Integer sums are exact, so the
// order of the rows does not matter.
std::vector<float> MeanOfRows(const uint8_t* firstRow, ptrdiff_t stride, int rows, int cols, int32_t width) {
    constexpr int kRowsPerBlock = 256;
    std::vector<uint32_t> sums(cols, 0u);
    std::vector<uint16_t> block(cols);
    for (int first = 0; first < rows; first += kRowsPerBlock) {
        const int end = std::min(rows, first + kRowsPerBlock);
        std::fill(block.begin(), block.end(), uint16_t{0});
        uint16_t* blockSums = block.data();
        int r = first;
        for (; r + 1 < end; r += 2) {
            const uint8_t* upper = firstRow + r * stride;
            const uint8_t* lower = upper + stride;
            for (int c = 0; c < cols; ++c) {
                blockSums[c] = static_cast<uint16_t>(blockSums[c] + (upper[c] + lower[c]));
            }
        }
        if (r < end) {
            const uint8_t* row = firstRow + r * stride;
            for (int c = 0; c < cols; ++c) blockSums[c] = static_cast<uint16_t>(blockSums[c] + row[c]);
        }
        for (int c = 0; c < cols; ++c) sums[c] += blockSums[c];
    }
    const float reciprocal = static_cast<float>(1.0 / rows);
    std::vector<float> profile(width);
    for (int32_t c = 0; c < width; ++c) profile[c] = static_cast<float>(sums[c]) * reciprocal;
    return profile;
}

}  // namespace

std::vector<float> ColumnProfile(const cv::Mat& image, int32_t imageWidth) {
    if (image.type() != CV_8UC1 || image.rows < 1 || image.rows > kMaxExactRows || imageWidth > image.cols) {
        return ColumnProfileByReduction(image, imageWidth);
    }
    return MeanOfRows(image.ptr<uint8_t>(0), static_cast<ptrdiff_t>(image.step[0]), image.rows, image.cols,
                      imageWidth);
}

CalibrationFile ReadCalibrationFile(const std::string& path, int32_t imageHeight, int32_t imageWidth,
                                    std::vector<uint8_t>& buffer) {
    CalibrationFile read;
    InputFile file;
    ImageHeader header;
    // The reader decodes from the file as it goes: no length is too long to
    // hand it once the header, if there is one, is within the limits.
    read.status = OpenImageFile(path, UINT64_MAX, file, header);
    if (read.status != ImageFileStatus::kRead) return read;
    const bool anySize = imageHeight == 0 && imageWidth == 0;
    // A BMP holds no orientation tag: the size in its header is the size it
    // decodes to, and an image of another size need not be decoded at all.
    if (header.bmp && !anySize && (header.rows != imageHeight || header.cols != imageWidth)) {
        read.rows = static_cast<int32_t>(header.rows);
        read.cols = static_cast<int32_t>(header.cols);
        read.status = ImageFileStatus::kOtherSize;
        return read;
    }
    if (header.plainGray && header.rows <= kMaxExactRows) {
        read.rows = static_cast<int32_t>(header.rows);
        read.cols = static_cast<int32_t>(header.cols);
        // Only the pixel rows are read, bottom row first as stored.
        buffer.resize(static_cast<size_t>(header.stride * header.rows));
        if (!file.ReadAt(header.pixelOffset, buffer.data(), buffer.size())) {
            read.status = ImageFileStatus::kUnopenable;
            return read;
        }
        read.profile = MeanOfRows(buffer.data(), static_cast<ptrdiff_t>(header.stride), read.rows, read.cols,
                                  read.cols);
        return read;
    }
    cv::Mat image;
    read.status = DecodeGray(file, path, image);
    if (read.status != ImageFileStatus::kRead) return read;
    read.rows = image.rows;
    read.cols = image.cols;
    if (!anySize && (image.rows != imageHeight || image.cols != imageWidth)) {
        read.status = ImageFileStatus::kOtherSize;
        return read;
    }
    read.profile = ColumnProfile(image, image.cols);
    return read;
}

std::optional<std::vector<float>> ProfileOfFile(const std::string& path, int32_t imageHeight, int32_t imageWidth,
                                                std::vector<uint8_t>& buffer) {
    CalibrationFile read = ReadCalibrationFile(path, imageHeight, imageWidth, buffer);
    if (read.status != ImageFileStatus::kRead) return std::nullopt;
    return std::move(read.profile);
}

std::vector<std::vector<float>> LoadCalibrationProfiles(const FlatFieldCorrectionInstance& instance) {
    std::vector<std::vector<float>> profiles;
    std::vector<uint8_t> buffer;
    for (const std::string& path : ListCalibrationFiles(instance.imageFolder)) {
        std::optional<std::vector<float>> profile =
            ProfileOfFile(path, instance.imageHeight, instance.imageWidth, buffer);
        if (profile) profiles.push_back(std::move(*profile));
    }
    return profiles;
}

}  // namespace ffc
