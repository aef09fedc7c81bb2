// What a correction call does, decided once from the mode and the instance:
// the correction shape, and the rule that gives a regular pixel its value from
// its column and raw value. Both test exports and the plain reference share
// this decision and the common start.
#ifndef VYR_FFC_CORRECTION_PLAN_H
#define VYR_FFC_CORRECTION_PLAN_H

#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "instance/instance.h"

namespace ffc {

// The two test exports: the current generation applies quadGain / cubicGain,
// the previous one rangeGain and maps mode 5 through the column tables.
enum class Generation { kCurrent, kPrevious };

enum class CorrectionShape { kPolyvalInt, kLutWithHoleFill, kDarkBackward, kDarkForward };

enum class RegularValueKind {
    kPolyvalInt,          // PolyvalGrayInt of the column's coefficients
    kPolyvalFloatGained,  // PolyvalGrayFloat of the coefficients, times the gain
    kLutGained,           // the column's table value as float, times the gain
    kLutLowByte,          // the low 8 bits of the column's table value
};

// The regular value of a pixel depends only on its column and raw value.
struct RegularValueRule {
    RegularValueKind kind = RegularValueKind::kPolyvalInt;
    const std::vector<std::vector<float>>* coefficients = nullptr;  // polynomial kinds
    const std::vector<std::vector<int32_t>>* luts = nullptr;        // table kinds
    float gain = 0.0f;                                              // gained kinds
};

struct CorrectionPlan {
    CorrectionShape shape = CorrectionShape::kPolyvalInt;
    RegularValueRule rule;
};

CorrectionPlan PlanCorrection(const FlatFieldCorrectionInstance& instance, Generation generation, int32_t mode);

// The common start of every mode: false, output untouched, when the input's
// width differs from imageWidth, the input is empty or not 8-bit
// single-channel, or the per-column data the rule reads does not cover every
// column. Otherwise an output of another size is replaced by a new 8-bit image
// of the input's size (an output of the right size is written in place).
bool StartCorrection(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                     const cv::Mat& input, cv::Mat& output);

// A gained gray value: clamped to 0..255 and truncated toward zero. A NaN
// product (an infinite gain times 0) gives 0.
inline int GainedGray(float gray, float gain) {
    const float v = gray * gain;
    const float clamped = v > 255.0f ? 255.0f : (v > 0.0f ? v : 0.0f);
    return static_cast<int>(clamped);
}

// The per-pixel rule, evaluated from scratch: column c, raw value p (0..255).
int RegularValue(const RegularValueRule& rule, int column, int raw);

// Dark pixels: a flagged column (flag -1) at raw 0. Columns beyond the flag
// list are regular; columns beyond the range list have an empty list.
bool ColumnIsFlagged(const FlatFieldCorrectionInstance& instance, int column);
const std::vector<int32_t>& DarkRangesOf(const FlatFieldCorrectionInstance& instance, int column);

// Mode 4: the candidate list of a column's hole value (an empty list when the
// instance holds none).
const std::vector<int32_t>& HoleCandidatesOf(const FlatFieldCorrectionInstance& instance, int column,
                                             int holeRaw);

// The pixel and row pointers of 8-bit images, whatever the output's type.
inline const uint8_t* RowOf(const cv::Mat& image, int row) {
    return image.data + static_cast<size_t>(row) * image.step[0];
}
inline uint8_t* RowOf(cv::Mat& image, int row) {
    return image.data + static_cast<size_t>(row) * image.step[0];
}

}  // namespace ffc

#endif  // VYR_FFC_CORRECTION_PLAN_H
