#include "eval/correction_plan.h"

#include "fit/polynomial.h"

namespace ffc {

namespace {

const std::vector<int32_t>& EmptyList() {
    static const std::vector<int32_t> empty;
    return empty;
}

bool RuleCoversWidth(const RegularValueRule& rule, int width) {
    const size_t columns = static_cast<size_t>(width);
    if (rule.kind == RegularValueKind::kPolyvalInt || rule.kind == RegularValueKind::kPolyvalFloatGained) {
        return rule.coefficients->size() >= columns;
    }
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
            break;
        case 4:
            plan.shape = CorrectionShape::kLutWithHoleFill;
            rule.kind = RegularValueKind::kLutLowByte;
            rule.luts = &instance.columnLuts;
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
            break;
        case 6:
            plan.shape = CorrectionShape::kDarkForward;
            rule.kind = RegularValueKind::kPolyvalFloatGained;
            rule.coefficients = &instance.quadCoeffs;
            rule.gain = current ? instance.quadGain : instance.rangeGain;
            break;
        default:
            plan.shape = CorrectionShape::kDarkForward;
            rule.kind = RegularValueKind::kPolyvalFloatGained;
            rule.coefficients = &instance.cubicCoeffs;
            rule.gain = current ? instance.cubicGain : instance.rangeGain;
            break;
    }
    return plan;
}

bool StartCorrection(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                     const cv::Mat& input, cv::Mat& output) {
    if (input.cols != instance.imageWidth) return false;
    if (input.empty() || input.type() != CV_8UC1) return false;
    if (!RuleCoversWidth(plan.rule, instance.imageWidth)) return false;
    if (output.rows != input.rows || output.cols != input.cols) {
        output = cv::Mat(input.rows, input.cols, CV_8UC1);
    }
    return true;
}

int RegularValue(const RegularValueRule& rule, int column, int raw) {
    const float x = static_cast<float>(raw);
    switch (rule.kind) {
        case RegularValueKind::kPolyvalInt:
            return PolyvalGrayInt((*rule.coefficients)[column], x);
        case RegularValueKind::kPolyvalFloatGained:
            return GainedGray(PolyvalGrayFloat((*rule.coefficients)[column], x), rule.gain);
        case RegularValueKind::kLutGained:
            return GainedGray(static_cast<float>((*rule.luts)[column][raw]), rule.gain);
        case RegularValueKind::kLutLowByte:
            return static_cast<uint8_t>((*rule.luts)[column][raw]);
    }
    return 0;
}

bool ColumnIsFlagged(const FlatFieldCorrectionInstance& instance, int column) {
    return static_cast<size_t>(column) < instance.columnFlags.size() && instance.columnFlags[column] == -1;
}

const std::vector<int32_t>& DarkRangesOf(const FlatFieldCorrectionInstance& instance, int column) {
    if (static_cast<size_t>(column) < instance.columnDarkRanges.size()) return instance.columnDarkRanges[column];
    return EmptyList();
}

const std::vector<int32_t>& HoleCandidatesOf(const FlatFieldCorrectionInstance& instance, int column,
                                             int holeRaw) {
    if (static_cast<size_t>(column) >= instance.lutHoleCandidates.size()) return EmptyList();
    const std::vector<std::vector<int32_t>>& levels = instance.lutHoleCandidates[column];
    if (static_cast<size_t>(holeRaw) >= levels.size()) return EmptyList();
    return levels[holeRaw];
}

}  // namespace ffc
