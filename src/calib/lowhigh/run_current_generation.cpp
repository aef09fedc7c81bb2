// The current-generation low/high run.
#include <utility>

#include "calib/lowhigh/column_fits.h"
#include "calib/lowhigh/current_fit_range.h"
#include "calib/lowhigh/image_selection.h"
#include "calib/lowhigh/output_scaling.h"
#include "calib/runs.h"
#include "instance/instance.h"

namespace ffc {

RunOutcome RunCurrentGeneration(FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>> profiles,
                                const ColumnGroups& columnGroups, uint32_t significantDigits) {
    const SelectedImages selected = SelectImages(std::move(profiles), instance.referenceColumns);
    RunOutcome outcome;
    outcome.levels = selected.levels;
    if (selected.profiles.empty()) {
        outcome.status = RunStatus::kAllSaturated;
        return outcome;
    }
    outcome.range = CurrentGenerationFitRange(selected.profiles, columnGroups, instance.imageWidth);
    ColumnResults results = CalibrateColumns(instance.imageWidth, selected, *outcome.range, significantDigits);
    const OutputScales scales = ScaleFitsToOutputRange(results.quadCoeffs, results.cubicCoeffs, *outcome.range);
    if (!scales.Finite()) {
        outcome.status = RunStatus::kOutputGainNotFinite;
        return outcome;
    }
    CommitColumnResults(std::move(results), instance);
    CommitOutputScales(scales, instance);
    return outcome;
}

}  // namespace ffc
