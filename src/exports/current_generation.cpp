// The current-generation run and its accessor.
#include "VyrCISFlatfieldCorrection.h"

#include <optional>
#include <utility>

#include "calib/lowhigh/results_accessor.h"
#include "calib/run_start.h"
#include "calib/runs.h"
#include "instance/instance.h"

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups) {
    std::optional<std::vector<std::vector<float>>> profiles =
        ffc::LoadRunProfiles(instance, columnGroups, ffc::kLowHighMinimumImages);
    if (!profiles) return false;
    const ffc::RunOutcome outcome =
        ffc::RunCurrentGeneration(*instance, std::move(*profiles), columnGroups, significantDigits);
    return outcome.status == ffc::RunStatus::kCalibrated;
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
