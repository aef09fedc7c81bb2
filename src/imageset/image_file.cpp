#include "imageset/image_file.h"

#include <algorithm>
#include <new>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace ffc {

const char* DescribeImageFileStatus(ImageFileStatus status) {
    switch (status) {
        case ImageFileStatus::kRead: return "read";
        case ImageFileStatus::kMissing: return "missing";
        case ImageFileStatus::kNotRegular: return "not a regular file";
        case ImageFileStatus::kUnopenable: return "a file that cannot be opened or read";
        case ImageFileStatus::kTooLarge:
            return "larger than the image library reads (at most 1048576 rows or columns and 1073741824 pixels)";
        case ImageFileStatus::kCutShort: return "cut short: it ends before what its header describes";
        case ImageFileStatus::kNotAnImage: return "not an image the image library can read";
        case ImageFileStatus::kLibraryFailed: return "the image library failed on it";
        case ImageFileStatus::kOutOfMemory: return "too large to decode in the memory available";
        case ImageFileStatus::kOtherSize: break;
    }
    return "of another size";
}

namespace {

uint32_t LittleEndian32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t LittleEndian16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

uint32_t BigEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

constexpr size_t kBmpHeaders = 14 + 40;
constexpr size_t kBmpPalette = 256 * 4;

bool IsGrayRamp(const uint8_t* palette) {
    for (int i = 0; i < 256; ++i) {
        if (palette[4 * i] != i || palette[4 * i + 1] != i || palette[4 * i + 2] != i) return false;
    }
    return true;
}

// Reads the header fields as the image library does: the 40-byte (or
// longer) info header with signed 32-bit sizes, a negative height for rows
// stored top-down, or the 12-byte one with 16-bit sizes.
ImageHeader BmpHeader(const uint8_t* bytes, size_t length) {
    ImageHeader header;
    if (length < 26) return header;
    const uint32_t infoSize = LittleEndian32(bytes + 14);
    int64_t cols = 0, rows = 0;
    uint32_t bits = 0, compression = 0, colours = 0, planes = 1;
    if (infoSize >= 36 && length >= 50) {
        cols = static_cast<int32_t>(LittleEndian32(bytes + 18));
        rows = static_cast<int32_t>(LittleEndian32(bytes + 22));
        planes = LittleEndian16(bytes + 26);
        bits = LittleEndian16(bytes + 28);
        compression = LittleEndian32(bytes + 30);
        colours = LittleEndian32(bytes + 46);
    } else if (infoSize == 12) {
        cols = LittleEndian16(bytes + 18);
        rows = LittleEndian16(bytes + 20);
        bits = LittleEndian16(bytes + 24);
    } else {
        return header;
    }
    if (cols <= 0 || rows == 0) return header;
    header.known = true;
    header.bmp = true;
    header.cols = cols;
    header.rows = rows < 0 ? -rows : rows;
    const bool rowsAsStored = (compression == 0 && (bits == 1 || bits == 4 || bits == 8 || bits == 15 ||
                                                     bits == 16 || bits == 24 || bits == 32)) ||
                              (compression == 3 && (bits == 16 || bits == 32));
    // The size is checked against the limits before this is used, so the
    // products stay far inside 64 bits.
    if (rowsAsStored && static_cast<uint64_t>(header.cols) <= kLargestImageSide &&
        static_cast<uint64_t>(header.rows) <= kLargestImageSide) {
        const uint64_t bitsPerPixel = bits == 15 ? 16 : bits;
        header.pixelOffset = LittleEndian32(bytes + 10);
        header.stride = ((static_cast<uint64_t>(header.cols) * bitsPerPixel + 7) / 8 + 3) / 4 * 4;
        header.placedEnd = header.pixelOffset + header.stride * static_cast<uint64_t>(header.rows);
        header.plainGray = infoSize == 40 && planes == 1 && bits == 8 && compression == 0 && rows > 0 &&
                           (colours == 0 || colours == 256) && header.pixelOffset >= kBmpHeaders + kBmpPalette &&
                           length >= kBmpHeaders + kBmpPalette && IsGrayRamp(bytes + kBmpHeaders);
    }
    return header;
}

// How many bytes of a BMP's headers the image library reads before it
// looks at the sizes; a file shorter than that it gives up on (0: it gives
// up on the header's kind whatever the length).
size_t BmpHeaderBytes(const uint8_t* bytes, size_t length) {
    if (length < 18) return 18;
    const uint32_t infoSize = LittleEndian32(bytes + 14);
    return infoSize >= 36 ? 50 : infoSize == 12 ? 26 : 0;
}

// The size in the first chunk, which the image library takes as it is.
ImageHeader PngHeader(const uint8_t* bytes, size_t length) {
    static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ImageHeader header;
    if (length < 24 || !std::equal(kSignature, kSignature + 8, bytes) || !std::equal(bytes + 12, bytes + 16, "IHDR")) {
        return header;
    }
    header.cols = BigEndian32(bytes + 16);
    header.rows = BigEndian32(bytes + 20);
    header.known = header.cols > 0 && header.rows > 0;
    return header;
}

bool WithinLimits(const ImageHeader& header) {
    const auto rows = static_cast<uint64_t>(header.rows), cols = static_cast<uint64_t>(header.cols);
    return rows <= kLargestImageSide && cols <= kLargestImageSide && rows * cols <= kLargestImagePixels;
}

}  // namespace

ImageFileStatus OpenImageFile(const std::string& path, uint64_t largestFile, InputFile& file, ImageHeader& header,
                              NameEncoding encoding) {
    header = ImageHeader();
    switch (file.Open(path, encoding)) {
        case OpenStatus::kOpened: break;
        case OpenStatus::kMissing: return ImageFileStatus::kMissing;
        case OpenStatus::kNotRegular: return ImageFileStatus::kNotRegular;
        case OpenStatus::kUnreadable: return ImageFileStatus::kUnopenable;
    }
    if (file.Size() == 0) return ImageFileStatus::kNotAnImage;
    uint8_t first[kBmpHeaders + kBmpPalette];
    const size_t length = static_cast<size_t>(std::min<uint64_t>(file.Size(), sizeof first));
    if (!file.ReadAt(0, first, length)) return ImageFileStatus::kUnopenable;
    if (length >= 2 && first[0] == 'B' && first[1] == 'M') {
        if (length < BmpHeaderBytes(first, length)) return ImageFileStatus::kCutShort;
        header = BmpHeader(first, length);
    } else {
        header = PngHeader(first, length);
    }
    if (header.known && !WithinLimits(header)) return ImageFileStatus::kTooLarge;
    if (header.placedEnd > file.Size()) return ImageFileStatus::kCutShort;
    // Bytes past the last row of an uncompressed BMP are never read.
    const uint64_t used = header.placedEnd > 0 ? header.placedEnd : file.Size();
    return used > largestFile ? ImageFileStatus::kTooLarge : ImageFileStatus::kRead;
}

namespace {

// Runs one decoding step; an error the image library raises ends it with the
// status that says so and no image. The library takes its pixel memory
// outside the standard allocator and raises its own error when it runs out.
template <typename Step>
ImageFileStatus Decoding(cv::Mat& image, Step step) {
    try {
        return step();
    } catch (const cv::Exception& error) {
        // Some headers it refuses (sizes beyond its limits) raise an error
        // where others return nothing: both are files it cannot read.
        image.release();
        return error.code == cv::Error::StsNoMem ? ImageFileStatus::kOutOfMemory : ImageFileStatus::kLibraryFailed;
    }
}

}  // namespace

ImageFileStatus DecodeGray(const InputFile& file, const std::string& path, cv::Mat& image) {
    return Decoding(image, [&] {
        image = cv::imread(file.NameForReopening(path), cv::IMREAD_GRAYSCALE);
        return image.empty() ? ImageFileStatus::kNotAnImage : ImageFileStatus::kRead;
    });
}

ImageFileStatus DecodeStored(const InputFile& file, const ImageHeader& header, std::vector<uint8_t>& bytes,
                             cv::Mat& image) {
    const uint64_t length = header.placedEnd > 0 ? header.placedEnd : file.Size();
    try {
        return Decoding(image, [&] {
            bytes.resize(static_cast<size_t>(length));
            if (!file.ReadAt(0, bytes.data(), bytes.size())) return ImageFileStatus::kUnopenable;
            cv::imdecode(bytes, cv::IMREAD_UNCHANGED, &image);
            return image.empty() ? ImageFileStatus::kNotAnImage : ImageFileStatus::kRead;
        });
    } catch (const std::bad_alloc&) {
        image.release();
        return ImageFileStatus::kOutOfMemory;
    }
}

}  // namespace ffc
