// The current-generation low/high run and its accessor.
#include "VyrCISFlatfieldCorrection.h"

#include <optional>

#include "calib/lowhigh/column_fits.h"
#include "calib/lowhigh/fit_range.h"
#include "calib/lowhigh/image_selection.h"
#include "calib/lowhigh/output_scaling.h"
#include "calib/lowhigh/results_accessor.h"
#include "instance/instance.h"

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups) {
    const std::optional<ffc::SelectedImages> selected = ffc::LoadSelectedImages(instance, columnGroups);
    if (!selected) return false;
    const ffc::FitRange range = ffc::ChooseFitRange(selected->profiles, columnGroups, instance->imageWidth);
    ffc::CalibrateColumns(*instance, *selected, range, significantDigits);
    ffc::ScaleFitsToOutputRange(*instance, range);
    return true;
}

VYR_FFC_API void GetFlatFieldCorrectionPolyval_NewNew(
    FlatFieldCorrectionInstance* instance, std::vector<std::vector<float>>* quadCoeffs,
    std::vector<std::vector<float>>* cubicCoeffs, std::vector<bool>* columnFlags,
    std::vector<std::vector<uint8_t>>* columnDarkRanges, float* quadGain, float* quadOffset,
    float* cubicGain, float* cubicOffset) {
    if (instance == nullptr) return;
    ffc::CopyOutColumnResults(*instance, quadCoeffs, cubicCoeffs, columnFlags, columnDarkRanges);
    if (quadGain != nullptr) *quadGain = instance->quadGain;
    if (quadOffset != nullptr) *quadOffset = instance->quadOffset;
    if (cubicGain != nullptr) *cubicGain = instance->cubicGain;
    if (cubicOffset != nullptr) *cubicOffset = instance->cubicOffset;
}

}  // extern "C"
