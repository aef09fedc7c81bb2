// Both correction generations with instance contents and images from the
// fuzzer: coefficient tables, flags, dark ranges, mapping tables and hole lists
// of any shape and value, inputs and outputs of any size and type, in place or
// not, any mode.
//
// Images are short (0 to 4 rows), which the correction evaluates pixel by
// pixel, or tall (64 to 66 rows), which it corrects through per-column tables
// in strips of 64 columns and blocks of 8; they are narrow (up to 12 columns)
// or wide (up to 140), so that strips, blocks and their remainders all occur.
//
// A call must end with a result or with "Vector is empty"; it must leave the
// instance as it was, must not touch the output when it rejects the input, and
// must give bit for bit what the plain per-pixel rules give.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <opencv2/core.hpp>

#include "support/correction_check.h"
#include "support/random_cases.h"

namespace {

using ffc::testing::ByteSource;
using ffc::testing::RandomImage;

constexpr int32_t kShortRows = 4;
constexpr int32_t kTallRows = 64;
constexpr int32_t kNarrowWidth = 12;
constexpr int32_t kWideWidth = 140;

int32_t Rows(ByteSource& in, bool tall) {
    return tall ? in.InRange(kTallRows, kTallRows + 2) : in.InRange(0, kShortRows);
}

int ImageType(ByteSource& in) {
    switch (in.Byte() % 12) {
        case 0: return CV_8UC3;
        case 1: return CV_16UC1;
        case 2: return CV_32FC1;
        default: return CV_8UC1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSource in(data, size);
    const uint8_t shape = in.Byte();
    const bool tall = (shape & 1) != 0;
    const bool wide = (shape & 2) != 0;
    const bool complete = (shape & 4) != 0;
    const int32_t width = in.InRange(-1, wide ? kWideWidth : kNarrowWidth);
    const FlatFieldCorrectionInstance instance = ffc::testing::RandomInstance(in, width, complete);

    const int32_t mode = in.Chance(8) ? in.Int32() : in.InRange(-2, 8);
    const int rows = Rows(in, tall);
    const int cols = in.Chance(8) ? in.InRange(0, std::max(width, 0) + 1) : std::max(width, 0);
    const cv::Mat input = RandomImage(in, rows, cols, ImageType(in));

    cv::Mat output;
    bool inPlace = false;
    switch (in.Byte() % 5) {
        case 0: break;  // empty
        case 1: output = RandomImage(in, rows, cols, ImageType(in)); break;
        case 2: {
            // One after the other: the order in which arguments are evaluated is unspecified.
            const int otherRows = Rows(in, tall);
            const int otherCols = in.InRange(0, std::max(width, 0) + 1);
            output = RandomImage(in, otherRows, otherCols, CV_8UC1);
            break;
        }
        case 3: inPlace = true; break;
        default: output = cv::Mat(rows, cols, CV_8UC1, cv::Scalar(7)); break;
    }

    for (ffc::Generation generation : {ffc::Generation::kCurrent, ffc::Generation::kPrevious}) {
        const std::string difference =
            ffc::testing::DifferenceFromPlain(instance, input, output, mode, generation, inPlace);
        if (!difference.empty()) {
            std::fprintf(stderr, "correction fuzzer: %s\n", difference.c_str());
            std::abort();
        }
    }
    return 0;
}
