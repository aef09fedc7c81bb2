// The calibration file reader on bytes from the fuzzer, as they come and once
// more with their checksum put right, so that mutations reach the checks
// behind it: the layout, the types and every value.
//
// A file must load or be refused with the library's own error; one that loads
// must write back bytes that load to the same bytes, and must correct an
// image in every mode of both generations or refuse with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "support/calibration_file_bytes.h"

namespace {

// Wider images would make each loaded file cost more than its reading.
constexpr int32_t kMaxCorrectedWidth = 4096;

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "calibration file fuzzer: %s\n", what);
    std::abort();
}

void CorrectEveryMode(const vyrffc::Calibration& calibration) {
    const vyrffc::Results& results = calibration.results();
    if (results.imageWidth > kMaxCorrectedWidth) return;
    cv::Mat input(3, results.imageWidth, CV_8UC1);
    for (int c = 0; c < input.cols; ++c) {
        input.at<uint8_t>(0, c) = 0;
        input.at<uint8_t>(1, c) = static_cast<uint8_t>(c * 37);
        input.at<uint8_t>(2, c) = 255;
    }
    for (vyrffc::Generation generation : {vyrffc::Generation::kCurrent, vyrffc::Generation::kPrevious}) {
        for (int mode : {0, 1, 4, 5, 6, 7}) {
            cv::Mat output;
            try {
                calibration.Correct(input, output, mode, generation, 1);
                Require(output.size() == input.size() && output.type() == CV_8UC1, "a correction of another size");
            } catch (const vyrffc::Error&) {
            }
        }
    }
}

void Load(const std::string& contents) {
    std::string written;
    try {
        const vyrffc::Calibration calibration = vyrffc::Calibration::Deserialize(contents);
        written = calibration.Serialize();
        CorrectEveryMode(calibration);
    } catch (const vyrffc::Error&) {
        return;
    }
    try {
        Require(vyrffc::Calibration::Deserialize(written).Serialize() == written, "a file that does not round-trip");
    } catch (const vyrffc::Error&) {
        Require(false, "a loaded calibration writes a file that does not load");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string contents(reinterpret_cast<const char*>(data), size);
    Load(contents);
    const std::string resigned = ffc::testing::Resigned(contents);
    if (resigned != contents) Load(resigned);
    return 0;
}
