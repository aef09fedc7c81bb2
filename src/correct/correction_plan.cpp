#include "correct/correction_plan.h"

namespace ffc {

namespace {

bool RuleCoversWidth(const RegularValueRule& rule, int width) {
    const size_t columns = static_cast<size_t>(width);
    if (IsPolynomial(rule.kind)) return rule.coefficients->size() >= columns;
    if (rule.luts->size() < columns) return false;
    for (size_t c = 0; c < columns; ++c) {
        if ((*rule.luts)[c].size() < 256) return false;
    }
    return true;
}

}  // namespace

CorrectionPlan PlanCorrection(const FlatFieldCorrectionInstance& instance, Generation generation, int32_t mode) {
    const bool current = generation == Generation::kCurrent;
    CorrectionPlan plan;
    RegularValueRule& rule = plan.rule;
    switch (mode) {
        case 0:
        case 1:
            plan.shape = CorrectionShape::kPolyvalInt;
            rule.kind = RegularValueKind::kPolyvalInt;
            rule.coefficients = mode == 0 ? &instance.quadCoeffs : &instance.cubicCoeffs;
            plan.tableRule = mode;
            break;
        case 4:
            plan.shape = CorrectionShape::kLutWithHoleFill;
            rule.kind = RegularValueKind::kLutLowByte;
            rule.luts = &instance.columnLuts;
            plan.tableRule = 2;
            break;
        case 5:
            plan.shape = CorrectionShape::kDarkBackward;
            if (current) {
                rule.kind = RegularValueKind::kPolyvalFloatGained;
                rule.coefficients = &instance.quadCoeffs;
                rule.gain = instance.quadGain;
            } else {
                rule.kind = RegularValueKind::kLutGained;
                rule.luts = &instance.columnLuts;
                rule.gain = instance.rangeGain;
            }
            plan.tableRule = current ? 3 : 4;
            break;
        case 6:
            plan.shape = CorrectionShape::kDarkForward;
            rule.kind = RegularValueKind::kPolyvalFloatGained;
            rule.coefficients = &instance.quadCoeffs;
            rule.gain = current ? instance.quadGain : instance.rangeGain;
            plan.tableRule = current ? 5 : 6;
            break;
        default:
            plan.shape = CorrectionShape::kDarkForward;
            rule.kind = RegularValueKind::kPolyvalFloatGained;
            rule.coefficients = &instance.cubicCoeffs;
            rule.gain = current ? instance.cubicGain : instance.rangeGain;
            plan.tableRule = current ? 7 : 8;
            break;
    }
    return plan;
}

CorrectionStatus CheckStart(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                            const cv::Mat& input) {
    if (input.cols != instance.imageWidth) return CorrectionStatus::kWidthDiffers;
    if (input.empty() || input.type() != CV_8UC1) return CorrectionStatus::kNotGray;
    if (!RuleCoversWidth(plan.rule, instance.imageWidth)) return CorrectionStatus::kTablesMissing;
    return CorrectionStatus::kCorrected;
}

void PrepareOutput(const cv::Mat& input, cv::Mat& output) {
    if (output.rows != input.rows || output.cols != input.cols || output.type() != CV_8UC1) {
        output = cv::Mat(input.rows, input.cols, CV_8UC1);
    }
}

bool StartCorrection(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                     const cv::Mat& input, cv::Mat& output) {
    if (CheckStart(instance, plan, input) != CorrectionStatus::kCorrected) return false;
    PrepareOutput(input, output);
    return true;
}

}  // namespace ffc
