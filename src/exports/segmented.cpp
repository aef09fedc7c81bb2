// The segmented run and its accessor.
#include "VyrCISFlatfieldCorrection.h"

#include <optional>
#include <vector>

#include "calib/run_start.h"
#include "calib/runs.h"
#include "instance/instance.h"

extern "C" {

VYR_FFC_API bool RunFlatFieldCorrectionTool_autosegment(FlatFieldCorrectionInstance* instance,
                                                        uint32_t significantDigits,
                                                        std::vector<std::vector<int32_t>> columnGroups) {
    const std::optional<std::vector<std::vector<float>>> profiles =
        ffc::LoadRunProfiles(instance, columnGroups, ffc::kSegmentedMinimumImages);
    if (!profiles) return false;
    const ffc::RunOutcome outcome = ffc::RunSegmented(*instance, *profiles, columnGroups, significantDigits);
    return outcome.status == ffc::RunStatus::kCalibrated;
}

VYR_FFC_API void GetFlatFieldCorrectionPolyval_Seg_2(FlatFieldCorrectionInstance* instance,
                                                     std::vector<std::vector<std::vector<float>>>* pieces,
                                                     std::vector<int32_t>* breakpoints) {
    if (instance == nullptr) return;
    if (pieces != nullptr) *pieces = instance->segQuadCoeffs;
    if (breakpoints != nullptr) *breakpoints = instance->segQuadBreaks;
}

}  // extern "C"
