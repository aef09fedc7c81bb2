// The previous-generation run and its accessor.
#include "VyrCISFlatfieldCorrection.h"

#include <optional>
#include <utility>

#include "calib/lowhigh/results_accessor.h"
#include "calib/run_start.h"
#include "calib/runs.h"
#include "instance/instance.h"

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_New(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups) {
    std::optional<std::vector<std::vector<float>>> profiles =
        ffc::LoadRunProfiles(instance, columnGroups, ffc::kLowHighMinimumImages);
    if (!profiles) return false;
    const ffc::RunOutcome outcome =
        ffc::RunPreviousGeneration(*instance, std::move(*profiles), columnGroups, significantDigits);
    return outcome.status == ffc::RunStatus::kCalibrated;
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
