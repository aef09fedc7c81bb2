#include "correct/correction.h"

#include "correct/dark_fill.h"
#include "correct/hole_fill.h"
#include "correct/prepared_rule.h"

namespace ffc {

namespace {

// The rule with the instance's tables of it, filled on the first call that
// needs them. Once they exist, a call reads nothing else of the rule.
PreparedRule RuleWithKeptTables(const FlatFieldCorrectionInstance& instance, const CorrectionPlan& plan,
                                LookupPath lookup) {
    PreparedRule prepared;
    prepared.rule = plan.rule;
    prepared.width = instance.imageWidth;
    prepared.columnTables = instance.preparedTables.Get(
        plan.tableRule, ColumnTablesSize(prepared.width),
        [&](uint8_t* tables) { FillColumnTables(PrepareRule(plan.rule, prepared.width), tables); });
    prepared.lookup = lookup;
    return prepared;
}

}  // namespace

CorrectionStatus Correct(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, cv::Mat& output,
                         int32_t mode, Generation generation, LookupPath lookup) {
    const CorrectionPlan plan = PlanCorrection(instance, generation, mode);
    const CorrectionStatus start = CheckStart(instance, plan, input);
    if (start != CorrectionStatus::kCorrected) return start;
    PrepareOutput(input, output);
    const PreparedRule prepared = RuleWithKeptTables(instance, plan, lookup);
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
    return Correct(*instance, *input, *output, mode, generation, ChosenLookupPath()) == CorrectionStatus::kCorrected;
}

}  // namespace ffc
