// The previous-generation low/high run: the selection and per-column stage of
// the current generation, fitted from raw 0 up to a bound from the group
// ripple marks, unscaled, with the range gain 255 / bound.
#include <utility>

#include "calib/lowhigh/column_fits.h"
#include "calib/lowhigh/image_selection.h"
#include "calib/lowhigh/previous_fit_range.h"
#include "calib/runs.h"
#include "instance/instance.h"

namespace ffc {

RunOutcome RunPreviousGeneration(FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>> profiles,
                                 const ColumnGroups& columnGroups, uint32_t significantDigits) {
    const SelectedImages selected = SelectImages(std::move(profiles), instance.referenceColumns);
    RunOutcome outcome;
    outcome.levels = selected.levels;
    if (selected.profiles.empty()) {
        outcome.status = RunStatus::kAllSaturated;
        return outcome;
    }
    const FitRange range = PreviousGenerationFitRange(selected, columnGroups, instance.imageWidth);
    ColumnResults results = CalibrateColumns(instance.imageWidth, selected, range, significantDigits);
    CommitColumnResults(std::move(results), instance);
    instance.rangeGain = static_cast<float>(255.0 / static_cast<double>(range.highBound));
    outcome.range = range;
    return outcome;
}

}  // namespace ffc
