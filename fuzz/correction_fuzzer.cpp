// Both correction tests with instance contents and images from the fuzzer:
// coefficient tables, flags, dark ranges, mapping tables and hole lists of any
// shape and value, inputs and outputs of any size and type, any mode.
//
// Images are short (0 to 4 rows), which the correction evaluates pixel by
// pixel, or tall (64 to 66 rows), which it corrects through per-column tables
// in strips of 64 columns and blocks of 8; they are narrow (up to 12 columns)
// or wide (up to 140), so that strips, blocks and their remainders all occur.
//
// A call must end with a result or with "Vector is empty"; it must leave the
// instance as it was, must not touch the output when it rejects the input, and
// must give bit for bit what the plain per-pixel rules give.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "support/plain_correction.h"
#include "fuzz_input.h"
#include "instance/instance.h"
#include "instance_equality.h"

namespace ffc::fuzz {
namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "correction fuzzer: %s\n", what);
    std::abort();
}

constexpr int32_t kShortRows = 4;
constexpr int32_t kTallRows = 64;
constexpr int32_t kNarrowWidth = 12;
constexpr int32_t kWideWidth = 140;

int32_t Rows(FuzzInput& in, bool tall) {
    return tall ? in.InRange(kTallRows, kTallRows + 2) : in.InRange(0, kShortRows);
}

// Mostly the width, sometimes a little more or less, or nothing.
size_t TableLength(FuzzInput& in, int32_t width) {
    const int32_t wanted = width > 0 ? width : 0;
    switch (in.Byte() % 8) {
        case 0: return 0;
        case 1: return static_cast<size_t>(in.InRange(0, wanted + 2));
        default: return static_cast<size_t>(wanted);
    }
}

// Columns past the first kDrawnColumns repeat the drawn ones, so that a wide
// instance takes no more bytes than a narrow one. The period shares no factor
// with the 8- and 64-column blocks of the table pass, so a pixel looked up in
// the wrong block's column still tends to show.
constexpr size_t kDrawnColumns = 13;

template <typename T, typename Draw>
std::vector<T> PerColumn(size_t length, Draw&& draw) {
    std::vector<T> columns(length);
    for (size_t c = 0; c < length; ++c) columns[c] = c < kDrawnColumns ? draw() : columns[c - kDrawnColumns];
    return columns;
}

float Coefficient(FuzzInput& in) {
    switch (in.Byte() % 8) {
        case 0: return in.RawFloat();
        case 1: return 0.0f;
        default: return static_cast<float>(static_cast<int16_t>(in.InRange(-32768, 32767))) / 64.0f;
    }
}

// A gray level most of the time, any int now and then.
int32_t Level(FuzzInput& in) { return in.Chance(8) ? in.Int32() : in.InRange(-2, 257); }

std::vector<std::vector<float>> CoefficientTable(FuzzInput& in, int32_t width) {
    const size_t length = TableLength(in, width);
    const size_t usual = static_cast<size_t>(in.InRange(0, 5));
    return PerColumn<std::vector<float>>(length, [&] {
        std::vector<float> coefficients(in.Chance(8) ? static_cast<size_t>(in.InRange(0, 5)) : usual);
        for (float& c : coefficients) c = Coefficient(in);
        return coefficients;
    });
}

std::vector<int32_t> LevelList(FuzzInput& in, int32_t maxLength) {
    std::vector<int32_t> list(static_cast<size_t>(in.InRange(0, maxLength)));
    for (int32_t& v : list) v = Level(in);
    return list;
}

std::vector<int32_t> ColumnList(FuzzInput& in, int32_t width) {
    std::vector<int32_t> list(static_cast<size_t>(in.InRange(0, 4)));
    for (int32_t& v : list) v = in.InRange(-2, width + 1);
    return list;
}

// A rising line with up to seven stray entries; now and then not 256 long.
std::vector<int32_t> MappingTable(FuzzInput& in) {
    std::vector<int32_t> lut(in.Chance(8) ? static_cast<size_t>(in.InRange(0, 300)) : 256);
    const uint32_t step = static_cast<uint32_t>(in.InRange(0, 3));
    // Unsigned, so that a start near the top of the int range wraps.
    const uint32_t start = static_cast<uint32_t>(Level(in));
    for (size_t p = 0; p < lut.size(); ++p) lut[p] = static_cast<int32_t>(start + step * static_cast<uint32_t>(p));
    const int strays = in.Byte() % 8;
    for (int s = 0; s < strays && !lut.empty(); ++s) {
        const size_t p = static_cast<size_t>(in.InRange(0, static_cast<int32_t>(lut.size()) - 1));
        lut[p] = Level(in);
    }
    return lut;
}

FlatFieldCorrectionInstance MakeInstance(FuzzInput& in, bool wide, bool tall) {
    FlatFieldCorrectionInstance instance;
    instance.imageWidth = in.InRange(-1, wide ? kWideWidth : kNarrowWidth);
    instance.imageHeight = in.InRange(-1, tall ? kTallRows + 2 : kShortRows);
    const int32_t width = instance.imageWidth;

    instance.quadCoeffs = CoefficientTable(in, width);
    instance.cubicCoeffs = CoefficientTable(in, width);
    instance.quadGain = Coefficient(in);
    instance.cubicGain = Coefficient(in);
    instance.rangeGain = Coefficient(in);

    instance.columnFlags = PerColumn<int32_t>(TableLength(in, width), [&] {
        return in.Chance(3) ? -1 : (in.Chance(4) ? Level(in) : 0);
    });
    instance.columnDarkRanges =
        PerColumn<std::vector<int32_t>>(TableLength(in, width), [&] { return LevelList(in, 5); });
    instance.columnLuts = PerColumn<std::vector<int32_t>>(TableLength(in, width), [&] { return MappingTable(in); });
    instance.lutExactColumns = ColumnList(in, width);
    instance.lutDarkHoleColumns = ColumnList(in, width);
    instance.lutHoleCandidates = PerColumn<std::vector<std::vector<int32_t>>>(TableLength(in, width), [&] {
        std::vector<std::vector<int32_t>> levels;
        const uint8_t shape = in.Byte() % 4;
        levels.resize(shape == 0 ? 0 : (shape == 1 ? static_cast<size_t>(in.InRange(0, 3)) : 256));
        if (levels.empty()) return levels;
        levels.front() = LevelList(in, 4);
        levels.back() = LevelList(in, 4);
        return levels;
    });
    return instance;
}

int ImageType(FuzzInput& in) {
    switch (in.Byte() % 12) {
        case 0: return CV_8UC3;
        case 1: return CV_16UC1;
        case 2: return CV_32FC1;
        default: return CV_8UC1;
    }
}

// A tall image's rows, grown from a seed row of up to 24 bytes: each row is
// the seed repeated across it and raised (modulo 256) by an amount drawn per
// row, with single bytes set to 0 or 255 at a rate the input chooses, so that
// dark pixels and holes occur. A generator seeded from the input picks the
// amounts and the bytes.
void GrowRows(FuzzInput& in, cv::Mat& image) {
    std::vector<uint8_t> seed(1 + in.Byte() % 24);
    for (uint8_t& b : seed) b = in.Byte();
    const uint32_t spread = in.Chance(4) ? 255 : in.Byte() % 16;
    const uint32_t extremeEvery = in.Byte() % 64;  // 0: none
    uint32_t state = in.Bits32() | 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const size_t rowBytes = static_cast<size_t>(image.cols) * image.elemSize();
    for (int r = 0; r < image.rows; ++r) {
        uint8_t* row = image.ptr(r);
        const uint32_t raise = next() % (spread + 1);
        for (size_t i = 0; i < rowBytes; ++i) {
            row[i] = static_cast<uint8_t>(seed[i % seed.size()] + raise);
            if (extremeEvery != 0 && next() % extremeEvery == 0) row[i] = (next() & 1) != 0 ? 255 : 0;
        }
    }
}

// An image of the given size and type: a short one filled byte by byte from
// the input, a tall one grown from a seed row. Now and then a view into a
// wider image, so that rows are not contiguous.
cv::Mat MakeImage(FuzzInput& in, int rows, int cols, int type) {
    const bool view = in.Chance(4);
    cv::Mat storage(rows, cols + (view ? 3 : 0), type);
    if (rows > kShortRows) {
        GrowRows(in, storage);
    } else {
        uint8_t* bytes = storage.data;
        const size_t count = storage.total() * storage.elemSize();
        for (size_t i = 0; i < count; ++i) bytes[i] = in.Byte();
    }
    return view ? storage(cv::Rect(1, 0, cols, rows)) : storage;
}

// What a call gave: its result, or that it threw "Vector is empty".
struct Outcome {
    bool result = false;
    bool threwVectorIsEmpty = false;
};

template <typename Call>
Outcome Run(Call&& call) {
    Outcome outcome;
    try {
        outcome.result = call();
    } catch (const std::invalid_argument& error) {
        Require(std::strcmp(error.what(), "Vector is empty") == 0, "unexpected invalid_argument message");
        outcome.threwVectorIsEmpty = true;
    }
    return outcome;
}

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
    if (a.rows != b.rows || a.cols != b.cols || a.type() != b.type()) return false;
    const size_t rowBytes = static_cast<size_t>(a.cols) * a.elemSize();
    for (int r = 0; r < a.rows; ++r) {
        if (rowBytes != 0 && std::memcmp(a.ptr(r), b.ptr(r), rowBytes) != 0) return false;
    }
    return true;
}

// A copy that is a view into a wider image when the original is one.
cv::Mat CopyKeepingLayout(const cv::Mat& image) {
    // clone() of an image without pixels drops its shape (0 x 5 becomes 0 x 0).
    if (image.empty()) return cv::Mat(image.rows, image.cols, image.type());
    if (image.isContinuous()) return image.clone();
    cv::Mat storage(image.rows, image.cols + 3, image.type());
    cv::Mat view = storage(cv::Rect(1, 0, image.cols, image.rows));
    image.copyTo(view);
    return view;
}

void CheckOneCall(const FlatFieldCorrectionInstance& original, FlatFieldCorrectionInstance& instance,
                  const cv::Mat& input, const cv::Mat& outputBefore, int32_t mode, Generation generation) {
    cv::Mat output = CopyKeepingLayout(outputBefore);
    const Outcome fast = Run([&] {
        return generation == Generation::kCurrent ? TestFlatFieldCorrectionTool_NewNew(&instance, &input, &output, mode)
                                                  : TestFlatFieldCorrectionTool(&instance, &input, &output, mode);
    });
    Require(SameInstance(original, instance), "the instance changed");

    const bool rejectable = input.cols != original.imageWidth || input.empty() || input.type() != CV_8UC1;
    if (rejectable) {
        Require(!fast.result && !fast.threwVectorIsEmpty, "a rejected input gave a result");
        Require(SameImage(output, outputBefore), "a rejected input touched the output");
        return;
    }
    if (fast.result) Require(output.rows == input.rows && output.cols == input.cols, "output of the wrong size");

    cv::Mat plainOutput = CopyKeepingLayout(outputBefore);
    const Outcome plain = Run([&] { return PlainCorrectImage(&instance, &input, &plainOutput, mode, generation); });
    Require(fast.result == plain.result && fast.threwVectorIsEmpty == plain.threwVectorIsEmpty,
            "fast and plain corrections disagree on the result");
    // After a throw the output holds what was written so far, which the two
    // orders of work need not share.
    if (!fast.threwVectorIsEmpty) Require(SameImage(output, plainOutput), "fast and plain outputs differ");
}

}  // namespace
}  // namespace ffc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ffc::fuzz;
    FuzzInput in(data, size);
    const uint8_t shape = in.Byte();
    const bool tall = (shape & 1) != 0;
    const bool wide = (shape & 2) != 0;
    FlatFieldCorrectionInstance instance = MakeInstance(in, wide, tall);
    const FlatFieldCorrectionInstance original = instance;

    const int32_t mode = in.Chance(8) ? in.Int32() : in.InRange(-2, 8);
    const int width = instance.imageWidth > 0 ? instance.imageWidth : 0;
    const int rows = Rows(in, tall);
    const int cols = in.Chance(8) ? in.InRange(0, width + 1) : width;
    const cv::Mat input = MakeImage(in, rows, cols, ImageType(in));

    cv::Mat output;
    switch (in.Byte() % 4) {
        case 0: break;  // empty
        case 1: output = MakeImage(in, rows, cols, ImageType(in)); break;
        case 2: {
            // One after the other: the order in which arguments are evaluated is unspecified.
            const int otherRows = Rows(in, tall);
            const int otherCols = in.InRange(0, width + 1);
            output = MakeImage(in, otherRows, otherCols, CV_8UC1);
            break;
        }
        default: output = cv::Mat(rows, cols, CV_8UC1, cv::Scalar(7)); break;
    }

    CheckOneCall(original, instance, input, output, mode, ffc::Generation::kCurrent);
    CheckOneCall(original, instance, input, output, mode, ffc::Generation::kPrevious);
    return 0;
}
