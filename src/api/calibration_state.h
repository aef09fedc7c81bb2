// What a Calibration holds: the results as handed out, and the instance the
// correction reads, made from them once.
#ifndef VYR_FFC_API_CALIBRATION_STATE_H
#define VYR_FFC_API_CALIBRATION_STATE_H

#include "VyrCISFlatfieldCorrection.hpp"
#include "instance/instance.h"

namespace vyrffc {

struct Calibration::State {
    Results results;
    FlatFieldCorrectionInstance instance;
};

// The results of an instance a run has just written, with what the instance
// does not keep: the run, its settings and the fit range.
Results ResultsOf(const FlatFieldCorrectionInstance& instance, CalibrationRun run, uint32_t significantDigits,
                  const std::vector<std::vector<int32_t>>& columnGroups, float fitLowBound, float fitHighBound);

// A calibration of these results; its instance is rebuilt from them.
Calibration MakeCalibration(Results results);

}  // namespace vyrffc

#endif  // VYR_FFC_API_CALIBRATION_STATE_H
