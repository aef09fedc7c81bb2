// The previous-generation low/high run and its accessor: the selection and
// per-column stage of the current generation, fitted from raw 0 up to a bound
// from the group ripple marks, unscaled, with the range gain 255 / bound.
#include "VyrCISFlatfieldCorrection.h"

#include <optional>

#include "calib/lowhigh/column_fits.h"
#include "calib/lowhigh/fit_range.h"
#include "calib/lowhigh/group_ripple.h"
#include "calib/lowhigh/image_selection.h"
#include "calib/lowhigh/results_accessor.h"
#include "instance/instance.h"

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_New(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups) {
    const std::optional<ffc::SelectedImages> selected = ffc::LoadSelectedImages(instance, columnGroups);
    if (!selected) return false;
    const ffc::FitRange range = ffc::PreviousGenerationFitRange(*selected, columnGroups, instance->imageWidth);
    instance->rangeGain = static_cast<float>(255.0 / static_cast<double>(range.highBound));
    ffc::CalibrateColumns(*instance, *selected, range, significantDigits);
    return true;
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
