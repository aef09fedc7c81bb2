#include "correct/correction.h"

#include "VyrCISFlatfieldCorrection.h"
#include "correct/dark_fill.h"
#include "correct/hole_fill.h"
#include "correct/prepared_rule.h"

namespace ffc {

bool CorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output, int32_t mode,
                  Generation generation) {
    if (instance == nullptr || input == nullptr || output == nullptr) return false;
    const CorrectionPlan plan = PlanCorrection(*instance, generation, mode);
    if (!StartCorrection(*instance, plan, *input, *output)) return false;
    const PreparedRule prepared = PrepareRule(plan.rule, input->cols);
    switch (plan.shape) {
        case CorrectionShape::kPolyvalInt:
            ApplyPolyvalInt(prepared, *input, *output);
            return true;
        case CorrectionShape::kLutWithHoleFill:
            return ApplyLutWithHoleFill(*instance, prepared, *input, *output);
        case CorrectionShape::kDarkBackward:
            ApplyDarkBackward(*instance, prepared, *input, *output);
            return true;
        case CorrectionShape::kDarkForward:
            ApplyDarkForward(*instance, prepared, *input, *output);
            return true;
    }
    return true;
}

}  // namespace ffc

extern "C" {

VYR_FFC_API bool TestFlatFieldCorrectionTool_NewNew(FlatFieldCorrectionInstance* instance, const cv::Mat* input,
                                                    cv::Mat* output, int32_t mode) {
    return ffc::CorrectImage(instance, input, output, mode, ffc::Generation::kCurrent);
}

VYR_FFC_API bool TestFlatFieldCorrectionTool(FlatFieldCorrectionInstance* instance, const cv::Mat* input,
                                             cv::Mat* output, int32_t mode) {
    return ffc::CorrectImage(instance, input, output, mode, ffc::Generation::kPrevious);
}

}  // extern "C"
