// What a correction call does, decided once from the mode and the instance:
// the correction shape and the rule of its regular pixels, and the common
// start that checks the call against them.
#ifndef VYR_FFC_CORRECTION_PLAN_H
#define VYR_FFC_CORRECTION_PLAN_H

#include <cstdint>

#include <opencv2/core/mat.hpp>

#include "correct/prepared_rule.h"
#include "instance/instance.h"

namespace ffc {

// The two test exports: the current generation applies quadGain / cubicGain,
// the previous one rangeGain and maps mode 5 through the column tables.
enum class Generation { kCurrent, kPrevious };

enum class CorrectionShape { kPolyvalInt, kLutWithHoleFill, kDarkBackward, kDarkForward };

struct CorrectionPlan {
    CorrectionShape shape = CorrectionShape::kPolyvalInt;
    RegularValueRule rule;
    // Which of the instance's prepared tables hold the rule: one per distinct
    // rule, below kTableRules (instance/prepared_tables.h).
    int tableRule = 0;
};

CorrectionPlan PlanCorrection(const FlatFieldCorrectionInstance& instance, Generation generation, int32_t mode);

// How a correction call ended, or which check of its start refused it.
enum class CorrectionStatus {
    kCorrected,
    kWidthDiffers,    // the input's width is not imageWidth
    kNotGray,         // the input is empty or not 8-bit single-channel
    kTablesMissing,   // the per-column data the rule reads does not cover every column
    kUnfillableRow,   // mode 4 met a row the table pass left without a mapped pixel
};

// The checks of the common start, in order; kCorrected when the call may go on.
CorrectionStatus CheckStart(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                            const cv::Mat& input);

// An output of another size or type is replaced by a new 8-bit image of the
// input's size; an 8-bit output of the right size is written in place.
void PrepareOutput(const cv::Mat& input, cv::Mat& output);

// The common start of every mode: false, output untouched, when CheckStart
// refuses the call, else PrepareOutput.
bool StartCorrection(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                     const cv::Mat& input, cv::Mat& output);

}  // namespace ffc

#endif  // VYR_FFC_CORRECTION_PLAN_H
