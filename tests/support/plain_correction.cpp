#include "support/plain_correction.h"

#include <algorithm>

#include <opencv2/core.hpp>

#include "correct/fill_choices.h"
#include "correct/image_rows.h"
#include "instance/column_readers.h"

namespace ffc {

namespace {

// One call's pixels, read and written one at a time.
struct Pixels {
    const FlatFieldCorrectionInstance& instance;
    const RegularValueRule& rule;
    const cv::Mat& input;
    cv::Mat& output;

    uint8_t& Out(int r, int c) const { return RowOf(output, r)[c]; }
    // Writes the value's low byte; gives the whole value.
    int Put(int r, int c, int value) const {
        Out(r, c) = static_cast<uint8_t>(value);
        return value;
    }
    int Regular(int r, int c) const { return RegularValue(rule, c, RowOf(input, r)[c]); }
    bool IsDark(int r, int c) const { return RowOf(input, r)[c] == 0 && ColumnIsFlagged(instance, c); }
    int Clamped(int c, int running) const { return ClampToDarkRange(DarkRangesOf(instance, c), running); }
    // How many pixels from column 0 on are dark.
    int DarkLead(int r) const {
        int lead = 0;
        while (lead < input.cols && IsDark(r, lead)) ++lead;
        return lead;
    }
};

// Left to right, a regular pixel sets the running value and a dark pixel
// clamps it into its range; the dark pixels from column 0 on wait for the rest
// of the row, then are clamped right to left from the first regular pixel's
// value (from the running value when the whole row is dark). The running
// value carries over from row to row.
void DarkBackward(const Pixels& px) {
    int running = 0;
    for (int r = 0; r < px.input.rows; ++r) {
        const int lead = px.DarkLead(r);
        for (int c = lead; c < px.input.cols; ++c) {
            running = px.Put(r, c, px.IsDark(r, c) ? px.Clamped(c, running) : px.Regular(r, c));
        }
        if (lead > 0 && lead < px.input.cols) running = px.Out(r, lead);
        for (int c = lead - 1; c >= 0; --c) running = px.Put(r, c, px.Clamped(c, running));
    }
}

// Left to right as above, except that column 0 takes the row's first regular
// value unclamped (in a row dark from end to end it is clamped like the rest).
void DarkForward(const Pixels& px) {
    int running = 0;
    for (int r = 0; r < px.input.rows; ++r) {
        const int lead = px.DarkLead(r);
        for (int c = 0; c < px.input.cols; ++c) {
            running = px.Put(r, c, c == 0 && lead < px.input.cols ? px.Regular(r, lead)
                                   : px.IsDark(r, c)             ? px.Clamped(c, running)
                                                                 : px.Regular(r, c));
        }
    }
}

// Every pixel but the holes gets its table value. Then passes over the holes,
// column by column and top to bottom, give each hole with a filled left (else
// right) neighbour the candidate closest to that neighbour, until a pass fills
// nothing; the holes left then become 0.
bool LutWithHoleFill(const Pixels& px) {
    const int rows = px.input.rows;
    const int width = px.input.cols;
    // A column's hole value: none (256) in the exact columns, 0 in the
    // dark-hole columns, else 255.
    auto holeRaw = [&](int c) {
        auto listed = [c](const std::vector<int32_t>& list) { return std::count(list.begin(), list.end(), c) > 0; };
        return listed(px.instance.lutExactColumns) ? 256 : (listed(px.instance.lutDarkHoleColumns) ? 0 : 255);
    };
    cv::Mat open(rows, width, CV_8UC1);
    for (int c = 0; c < width; ++c) {
        for (int r = 0; r < rows; ++r) {
            open.at<uint8_t>(r, c) = RowOf(px.input, r)[c] == holeRaw(c);
            if (!open.at<uint8_t>(r, c)) px.Put(r, c, px.Regular(r, c));
        }
    }
    auto filled = [&](int r, int c) { return c >= 0 && c < width && !open.at<uint8_t>(r, c); };
    for (bool progress = true; progress;) {
        progress = false;
        for (int c = 0; c < width; ++c) {
            for (int r = 0; r < rows; ++r) {
                if (filled(r, c) || !(filled(r, c - 1) || filled(r, c + 1))) continue;
                const int target = px.Out(r, filled(r, c - 1) ? c - 1 : c + 1);
                px.Put(r, c, FindClosestValue(HoleCandidatesOf(px.instance, c, holeRaw(c)), target));
                open.at<uint8_t>(r, c) = 0;
                progress = true;
            }
        }
    }
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < width; ++c) px.Out(r, c) = filled(r, c) ? px.Out(r, c) : 0;
    }
    return cv::countNonZero(open) == 0;
}

}  // namespace

bool PlainCorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output,
                       int32_t mode, Generation generation) {
    if (instance == nullptr || input == nullptr || output == nullptr) return false;
    const CorrectionPlan plan = PlanCorrection(*instance, generation, mode);
    if (!StartCorrection(*instance, plan, *input, *output)) return false;
    const Pixels px{*instance, plan.rule, *input, *output};
    switch (plan.shape) {
        case CorrectionShape::kPolyvalInt:
            for (int r = 0; r < input->rows; ++r) {
                for (int c = 0; c < input->cols; ++c) px.Put(r, c, px.Regular(r, c));
            }
            return true;
        case CorrectionShape::kLutWithHoleFill: return LutWithHoleFill(px);
        case CorrectionShape::kDarkBackward: DarkBackward(px); return true;
        case CorrectionShape::kDarkForward: DarkForward(px); return true;
    }
    return true;
}

}  // namespace ffc
