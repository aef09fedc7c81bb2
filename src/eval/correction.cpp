#include "eval/correction.h"

#include "VyrCISFlatfieldCorrection.h"
#include "eval/correction_shapes.h"
#include "eval/regular_values.h"

namespace ffc {

bool CorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output, int32_t mode,
                  Generation generation) {
    if (instance == nullptr || input == nullptr || output == nullptr) return false;
    const CorrectionPlan plan = PlanCorrection(*instance, generation, mode);
    if (!StartCorrection(*instance, plan, *input, *output)) return false;
    const RegularValues values = PrepareRegularValues(plan.rule, input->cols);
    switch (plan.shape) {
        case CorrectionShape::kPolyvalInt:
            ApplyPolyvalInt(values, *input, *output);
            return true;
        case CorrectionShape::kLutWithHoleFill:
            return ApplyLutWithHoleFill(*instance, values, *input, *output);
        case CorrectionShape::kDarkBackward:
            ApplyDarkBackward(*instance, values, *input, *output);
            return true;
        case CorrectionShape::kDarkForward:
            ApplyDarkForward(*instance, values, *input, *output);
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
