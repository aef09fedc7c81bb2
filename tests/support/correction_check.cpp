#include "support/correction_check.h"

#include <algorithm>
#include <stdexcept>

#include <opencv2/core.hpp>

#include "correct/correction.h"
#include "support/instance_bytes.h"
#include "support/plain_correction.h"

namespace ffc::testing {

namespace {

struct Outcome {
    bool result = false;
    std::string thrown;
    cv::Mat output;

    // A line with the result, the exception and the output's shape, then with
    // `bytes` the output's bytes row by row.
    std::string Text(bool bytes) const {
        std::string text = "result " + std::to_string(result) + thrown + ", output " + std::to_string(output.rows) +
                           'x' + std::to_string(output.cols) + " of type " + std::to_string(output.type()) + '\n';
        for (int r = 0; bytes && r < output.rows && output.cols > 0; ++r) {
            text.append(output.ptr<char>(r), output.cols * output.elemSize());
        }
        return text;
    }
};

using Correction = bool (*)(const FlatFieldCorrectionInstance*, const cv::Mat*, cv::Mat*, int32_t, Generation);

// The call on a copy of `original` that keeps its layout: a view into a wider
// image when it is one, and its shape when it has no pixels (which clone()
// would not keep). With `inPlace` the copy is also the input.
Outcome Run(Correction correct, const FlatFieldCorrectionInstance& instance, const cv::Mat& input,
            const cv::Mat& original, int32_t mode, Generation generation, bool inPlace) {
    const int rows = original.rows, cols = original.cols;
    Outcome outcome{false, "", cv::Mat(rows, cols, original.type())};
    if (!original.isContinuous()) outcome.output = cv::Mat(rows, cols + 3, original.type()).colRange(0, cols);
    if (!original.empty()) original.copyTo(outcome.output);
    const cv::Mat ownInput = inPlace ? outcome.output : input;
    try {
        outcome.result = correct(&instance, &ownInput, &outcome.output, mode, generation);
    } catch (const std::invalid_argument& error) {
        outcome.thrown = std::string(", threw ") + error.what();
    }
    return outcome;
}

}  // namespace

std::string DifferenceFromPlain(const FlatFieldCorrectionInstance& instance, const cv::Mat& input,
                                const cv::Mat& output, int32_t mode, Generation generation, bool inPlace,
                                std::string* fastOutcome) {
    const std::string call = "mode " + std::to_string(mode) +
                             (generation == Generation::kCurrent ? " current" : " previous") +
                             (inPlace ? " in place: " : ": ");
    const cv::Mat& before = inPlace ? input : output;
    const std::string instanceBefore = InstanceBytes(instance);
    const Outcome fast = Run(CorrectImage, instance, input, before, mode, generation, inPlace);
    if (InstanceBytes(instance) != instanceBefore) return call + "the instance changed";
    const Outcome plain = Run(PlainCorrectImage, instance, input, before, mode, generation, inPlace);
    // A throw leaves the bytes not yet written to a new output undefined.
    const bool newOutput = before.rows != input.rows || before.cols != input.cols || before.type() != CV_8UC1;
    const std::string fastText = fast.Text(fast.thrown.empty() || !newOutput);
    const std::string plainText = plain.Text(plain.thrown.empty() || !newOutput);
    if (fastOutcome != nullptr) *fastOutcome = fastText;

    const std::string summary = fastText.substr(0, fastText.find('\n'));
    const bool wrongSize = fast.output.rows != input.rows || fast.output.cols != input.cols;
    if ((!fast.thrown.empty() && fast.thrown != ", threw Vector is empty") || (fast.result && wrongSize)) {
        return call + summary;
    }
    const bool rejected = input.cols != instance.imageWidth || input.empty() || input.type() != CV_8UC1;
    if (rejected && fastText != Outcome{false, "", before}.Text(true)) return call + "rejected, yet " + summary;
    if (fastText == plainText) return "";
    const size_t at = std::mismatch(fastText.begin(), fastText.end(), plainText.begin(), plainText.end()).first -
                      fastText.begin();
    if (at <= summary.size()) return call + "fast " + summary + "; plain " + plainText.substr(0, plainText.find('\n'));
    return call + "fast and plain output bytes differ from byte " + std::to_string(at - summary.size() - 1);
}

}  // namespace ffc::testing
