#include "correct/correction.h"

#include "correct/dark_fill.h"
#include "correct/hole_fill.h"
#include "correct/prepared_rule.h"

namespace ffc {

CorrectionStatus Correct(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, cv::Mat& output,
                         int32_t mode, Generation generation) {
    const CorrectionPlan plan = PlanCorrection(instance, generation, mode);
    const CorrectionStatus start = CheckStart(instance, plan, input);
    if (start != CorrectionStatus::kCorrected) return start;
    PrepareOutput(input, output);
    const PreparedRule prepared = PrepareRule(plan.rule, input.cols);
    switch (plan.shape) {
        case CorrectionShape::kPolyvalInt:
            ApplyPolyvalInt(prepared, input, output);
            break;
        case CorrectionShape::kLutWithHoleFill:
            if (!ApplyLutWithHoleFill(instance, prepared, input, output)) return CorrectionStatus::kUnfillableRow;
            break;
        case CorrectionShape::kDarkBackward:
            ApplyDarkBackward(instance, prepared, input, output);
            break;
        case CorrectionShape::kDarkForward:
            ApplyDarkForward(instance, prepared, input, output);
            break;
    }
    return CorrectionStatus::kCorrected;
}

bool CorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output, int32_t mode,
                  Generation generation) {
    if (instance == nullptr || input == nullptr || output == nullptr) return false;
    return Correct(*instance, *input, *output, mode, generation) == CorrectionStatus::kCorrected;
}

}  // namespace ffc
