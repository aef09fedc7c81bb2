// What a Calibration holds: the instance the correction reads, with what it
// does not keep (the run, its settings and the fit range). The full results
// are copied out of the instance on first request only, so that a host that
// loads a calibration to correct with it never pays for them.
#ifndef VYR_FFC_API_CALIBRATION_STATE_H
#define VYR_FFC_API_CALIBRATION_STATE_H

#include <mutex>

#include "VyrCISFlatfieldCorrection.hpp"
#include "instance/instance.h"

namespace vyrffc {

struct Calibration::State {
    FlatFieldCorrectionInstance instance;
    Results settings;  // run, significantDigits, columnGroups, fit bounds
    mutable std::once_flag resultsMade;
    mutable Results results;
};

// A calibration of an instance a run has just written; `settings` gives what
// the instance does not keep.
Calibration MakeCalibration(FlatFieldCorrectionInstance instance, Results settings);

// A calibration of results read back; the tables move into its instance.
Calibration MakeCalibration(Results results);

}  // namespace vyrffc

#endif  // VYR_FFC_API_CALIBRATION_STATE_H
