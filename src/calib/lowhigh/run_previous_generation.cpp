// The previous-generation low/high run and its accessor: the selection and
// per-column stage of the current generation, fitted from raw 0 up to a bound
// from the group ripple marks, unscaled, with the range gain 255 / bound.
#include "VyrCISFlatfieldCorrection.h"

#include <optional>
#include <utility>

#include "calib/lowhigh/column_fits.h"
#include "calib/lowhigh/image_selection.h"
#include "calib/lowhigh/previous_fit_range.h"
#include "calib/lowhigh/results_accessor.h"
#include "calib/run_start.h"
#include "calib/runs.h"
#include "instance/instance.h"

namespace ffc {

std::optional<FitRange> RunPreviousGeneration(FlatFieldCorrectionInstance& instance,
                                              std::vector<std::vector<float>> profiles,
                                              const ColumnGroups& columnGroups, uint32_t significantDigits) {
    const SelectedImages selected = SelectImages(std::move(profiles), instance.referenceColumns);
    if (selected.profiles.empty()) return std::nullopt;
    const FitRange range = PreviousGenerationFitRange(selected, columnGroups, instance.imageWidth);
    ColumnResults results = CalibrateColumns(instance.imageWidth, selected, range, significantDigits);
    CommitColumnResults(std::move(results), instance);
    instance.rangeGain = static_cast<float>(255.0 / static_cast<double>(range.highBound));
    return range;
}

}  // namespace ffc

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_New(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups) {
    std::optional<std::vector<std::vector<float>>> profiles =
        ffc::LoadRunProfiles(instance, columnGroups, ffc::kLowHighMinimumImages);
    if (!profiles) return false;
    return ffc::RunPreviousGeneration(*instance, std::move(*profiles), columnGroups, significantDigits).has_value();
}

VYR_FFC_API void GetFlatFieldCorrectionPolyval_New(FlatFieldCorrectionInstance* instance,
                                                   std::vector<std::vector<float>>* quadCoeffs,
                                                   std::vector<std::vector<float>>* cubicCoeffs,
                                                   std::vector<bool>* columnFlags,
                                                   std::vector<std::vector<uint8_t>>* columnDarkRanges,
                                                   float* rangeGain) {
    if (instance == nullptr) return;
    ffc::CopyOutColumnResults(*instance, quadCoeffs, cubicCoeffs, columnFlags, columnDarkRanges);
    if (rangeGain != nullptr) *rangeGain = instance->rangeGain;
}

}  // extern "C"
