// The current-generation low/high run.
#include <optional>
#include <utility>

#include "calib/lowhigh/column_fits.h"
#include "calib/lowhigh/current_fit_range.h"
#include "calib/lowhigh/image_selection.h"
#include "calib/lowhigh/output_scaling.h"
#include "calib/runs.h"
#include "instance/instance.h"

namespace ffc {

std::optional<FitRange> RunCurrentGeneration(FlatFieldCorrectionInstance& instance,
                                             std::vector<std::vector<float>> profiles,
                                             const ColumnGroups& columnGroups, uint32_t significantDigits) {
    const SelectedImages selected = SelectImages(std::move(profiles), instance.referenceColumns);
    if (selected.profiles.empty()) return std::nullopt;
    const FitRange range = CurrentGenerationFitRange(selected.profiles, columnGroups, instance.imageWidth);
    ColumnResults results = CalibrateColumns(instance.imageWidth, selected, range, significantDigits);
    const OutputScales scales = ScaleFitsToOutputRange(results.quadCoeffs, results.cubicCoeffs, range);
    if (!scales.Finite()) return std::nullopt;
    CommitColumnResults(std::move(results), instance);
    CommitOutputScales(scales, instance);
    return range;
}

}  // namespace ffc
