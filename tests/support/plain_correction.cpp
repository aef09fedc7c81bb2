#include "support/plain_correction.h"

#include <algorithm>

#include "correct/fill_choices.h"
#include "correct/image_rows.h"
#include "instance/column_readers.h"

namespace ffc {

namespace {

// Which raw value of a column is a hole (256: none), read straight from the
// hole lists.
int HoleRawOf(const FlatFieldCorrectionInstance& instance, int column) {
    auto holds = [column](const std::vector<int32_t>& columns) {
        return std::find(columns.begin(), columns.end(), column) != columns.end();
    };
    if (holds(instance.lutExactColumns)) return 256;
    if (holds(instance.lutDarkHoleColumns)) return 0;
    return 255;
}

void PlainPolyvalInt(const RegularValueRule& rule, const cv::Mat& input, cv::Mat& output) {
    for (int r = 0; r < input.rows; ++r) {
        const uint8_t* in = RowOf(input, r);
        uint8_t* out = RowOf(output, r);
        for (int c = 0; c < input.cols; ++c) out[c] = static_cast<uint8_t>(RegularValue(rule, c, in[c]));
    }
}

bool IsDark(const FlatFieldCorrectionInstance& instance, const uint8_t* in, int c) {
    return in[c] == 0 && ColumnIsFlagged(instance, c);
}

void PlainDarkBackward(const FlatFieldCorrectionInstance& instance, const RegularValueRule& rule,
                       const cv::Mat& input, cv::Mat& output) {
    const int width = input.cols;
    int running = 0;
    for (int r = 0; r < input.rows; ++r) {
        const uint8_t* in = RowOf(input, r);
        uint8_t* out = RowOf(output, r);
        int lastDeferred = -1;
        for (int c = 0; c < width; ++c) {
            if (!IsDark(instance, in, c)) {
                running = RegularValue(rule, c, in[c]);
                out[c] = static_cast<uint8_t>(running);
            } else if (c == lastDeferred + 1) {
                lastDeferred = c;
            } else {
                running = ClampToDarkRange(DarkRangesOf(instance, c), running);
                out[c] = static_cast<uint8_t>(running);
            }
        }
        if (lastDeferred < 0) continue;
        // A row dark from end to end starts from the running value as it stands.
        if (lastDeferred + 1 < width) running = out[lastDeferred + 1];
        for (int c = lastDeferred; c >= 0; --c) {
            running = ClampToDarkRange(DarkRangesOf(instance, c), running);
            out[c] = static_cast<uint8_t>(running);
        }
    }
}

void PlainDarkForward(const FlatFieldCorrectionInstance& instance, const RegularValueRule& rule,
                      const cv::Mat& input, cv::Mat& output) {
    const int width = input.cols;
    int running = 0;
    for (int r = 0; r < input.rows; ++r) {
        const uint8_t* in = RowOf(input, r);
        uint8_t* out = RowOf(output, r);
        for (int c = 0; c < width; ++c) {
            if (!IsDark(instance, in, c)) {
                running = RegularValue(rule, c, in[c]);
                out[c] = static_cast<uint8_t>(running);
                continue;
            }
            if (c == 0) {
                int k = 1;
                while (k < width && IsDark(instance, in, k)) ++k;
                if (k < width) {
                    running = RegularValue(rule, k, in[k]);
                    out[0] = static_cast<uint8_t>(running);
                    continue;
                }
                // A row dark from end to end clamps column 0 like the others.
            }
            running = ClampToDarkRange(DarkRangesOf(instance, c), running);
            out[c] = static_cast<uint8_t>(running);
        }
    }
}

bool PlainLutWithHoleFill(const FlatFieldCorrectionInstance& instance, const RegularValueRule& rule,
                          const cv::Mat& input, cv::Mat& output) {
    const int rows = input.rows;
    const int width = input.cols;
    cv::Mat mask(rows, width, CV_8UC1, cv::Scalar(0));
    int64_t filled = 0;
    const int64_t total = static_cast<int64_t>(rows) * width;
    for (int c = 0; c < width; ++c) {
        const int holeRaw = HoleRawOf(instance, c);
        for (int r = 0; r < rows; ++r) {
            const uint8_t p = RowOf(input, r)[c];
            if (p == holeRaw) continue;
            RowOf(output, r)[c] = static_cast<uint8_t>(RegularValue(rule, c, p));
            mask.at<uint8_t>(r, c) = 255;
            ++filled;
        }
    }
    while (filled < total) {
        const int64_t filledBefore = filled;
        for (int c = 0; c < width; ++c) {
            for (int r = 0; r < rows; ++r) {
                if (mask.at<uint8_t>(r, c) != 0) continue;
                uint8_t* out = RowOf(output, r);
                int target;
                if (c > 0 && mask.at<uint8_t>(r, c - 1) == 255) {
                    target = out[c - 1];
                } else if (c + 1 < width && mask.at<uint8_t>(r, c + 1) == 255) {
                    target = out[c + 1];
                } else {
                    continue;
                }
                const std::vector<int32_t>& candidates = HoleCandidatesOf(instance, c, HoleRawOf(instance, c));
                out[c] = static_cast<uint8_t>(FindClosestValue(candidates, target));
                mask.at<uint8_t>(r, c) = 255;
                ++filled;
            }
        }
        if (filled == filledBefore) {
            // Rows the table pass left empty can never fill: they end as 0.
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < width; ++c) {
                    if (mask.at<uint8_t>(r, c) == 0) RowOf(output, r)[c] = 0;
                }
            }
            return false;
        }
    }
    return true;
}

}  // namespace

bool PlainCorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output,
                       int32_t mode, Generation generation) {
    if (instance == nullptr || input == nullptr || output == nullptr) return false;
    const CorrectionPlan plan = PlanCorrection(*instance, generation, mode);
    if (!StartCorrection(*instance, plan, *input, *output)) return false;
    switch (plan.shape) {
        case CorrectionShape::kPolyvalInt:
            PlainPolyvalInt(plan.rule, *input, *output);
            return true;
        case CorrectionShape::kLutWithHoleFill:
            return PlainLutWithHoleFill(*instance, plan.rule, *input, *output);
        case CorrectionShape::kDarkBackward:
            PlainDarkBackward(*instance, plan.rule, *input, *output);
            return true;
        case CorrectionShape::kDarkForward:
            PlainDarkForward(*instance, plan.rule, *input, *output);
            return true;
    }
    return true;
}

}  // namespace ffc
