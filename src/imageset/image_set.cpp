#include "imageset/image_set.h"

#include "instance/instance.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/filesystem.hpp>
#include <opencv2/imgcodecs.hpp>

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
    cv::Mat image;
    // The reader throws on some headers it refuses (sizes beyond its limits),
    // where it returns nothing for others: both are files it cannot read.
    try {
        image = cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
    if (image.cols != imageWidth || image.rows != imageHeight) return cv::Mat();
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

uint32_t LittleEndian32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t LittleEndian16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

// The pixel rows of a BMP file in the form calibration images are saved in:
// uncompressed, 8 bits per pixel, bottom-up, with the gray ramp palette
// (entry i is gray i), so that each pixel byte is the gray value the reader
// gives. Anything else is left to the reader.
struct GrayBmpRows {
    const uint8_t* first = nullptr;  // the bottom row, first in the file
    ptrdiff_t stride = 0;
    int rows = 0;
    int cols = 0;
};

std::optional<GrayBmpRows> PlainGrayBmpRows(const std::vector<uint8_t>& file) {
    constexpr size_t kHeaders = 14 + 40;
    constexpr size_t kPaletteBytes = 256 * 4;
    if (file.size() < kHeaders + kPaletteBytes || file[0] != 'B' || file[1] != 'M') return std::nullopt;
    const uint8_t* info = file.data() + 14;
    const uint32_t colours = LittleEndian32(info + 32);
    if (LittleEndian32(info) != 40 || LittleEndian16(info + 12) != 1 || LittleEndian16(info + 14) != 8 ||
        LittleEndian32(info + 16) != 0 || (colours != 0 && colours != 256)) {
        return std::nullopt;
    }
    const int32_t cols = static_cast<int32_t>(LittleEndian32(info + 4));
    const int32_t rows = static_cast<int32_t>(LittleEndian32(info + 8));
    // Sizes the reader refuses, beyond 2^20 rows or columns or 2^30 pixels,
    // are left to it.
    constexpr uint64_t kLargestSide = uint64_t{1} << 20;
    if (cols <= 0 || rows <= 0 || rows > kMaxExactRows || static_cast<uint64_t>(cols) > kLargestSide ||
        static_cast<uint64_t>(cols) * static_cast<uint64_t>(rows) > kLargestSide * 1024) {
        return std::nullopt;
    }
    const uint8_t* palette = file.data() + kHeaders;
    for (int i = 0; i < 256; ++i) {
        if (palette[4 * i] != i || palette[4 * i + 1] != i || palette[4 * i + 2] != i) return std::nullopt;
    }
    const uint64_t pixels = LittleEndian32(file.data() + 10);
    const uint64_t stride = (static_cast<uint64_t>(cols) + 3) / 4 * 4;
    if (pixels < kHeaders + kPaletteBytes || pixels + stride * static_cast<uint64_t>(rows) > file.size()) {
        return std::nullopt;
    }
    return GrayBmpRows{file.data() + pixels, static_cast<ptrdiff_t>(stride), rows, cols};
}

// The whole file into `bytes`; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bool read = std::fseek(file, 0, SEEK_END) == 0;
    const long size = read ? std::ftell(file) : -1;
    read = size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (read) {
        bytes.resize(static_cast<size_t>(size));
        read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    return read;
}

}  // namespace

std::vector<float> ColumnProfile(const cv::Mat& image, int32_t imageWidth) {
    if (image.type() != CV_8UC1 || image.rows < 1 || image.rows > kMaxExactRows || imageWidth > image.cols) {
        return ColumnProfileByReduction(image, imageWidth);
    }
    return MeanOfRows(image.ptr<uint8_t>(0), static_cast<ptrdiff_t>(image.step[0]), image.rows, image.cols,
                      imageWidth);
}

std::optional<std::vector<float>> ProfileOfFile(const std::string& path, int32_t imageHeight, int32_t imageWidth,
                                                std::vector<uint8_t>& buffer) {
    if (ReadWholeFile(path, buffer)) {
        if (const std::optional<GrayBmpRows> bmp = PlainGrayBmpRows(buffer)) {
            if (bmp->cols != imageWidth || bmp->rows != imageHeight) return std::nullopt;
            return MeanOfRows(bmp->first, bmp->stride, bmp->rows, bmp->cols, imageWidth);
        }
    }
    const cv::Mat image = ReadCalibrationImage(path, imageHeight, imageWidth);
    if (image.empty()) return std::nullopt;
    return ColumnProfile(image, imageWidth);
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
