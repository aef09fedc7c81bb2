// What a Calibration holds: the instance the correction reads, with what it
// does not keep (the run, its settings and the fit range). The full results
// are copied out of the instance on first request only, so that a host that
// loads a calibration to correct with it never pays for them.
#ifndef VYR_FFC_API_CALIBRATION_STATE_H
#define VYR_FFC_API_CALIBRATION_STATE_H

#include <mutex>

#include "VyrCISFlatfieldCorrection.hpp"
#include "correct/correction_plan.h"
#include "instance/instance.h"
#include "platform/thread_start.h"

namespace vyrffc {

struct Calibration::State {
    FlatFieldCorrectionInstance instance;
    Results settings;  // run, significantDigits, columnGroups, fit bounds, camera, setResiduals
    mutable std::once_flag resultsMade;
    mutable Results results;
};

// A calibration of an instance a run has just written; `settings` gives what
// the instance does not keep.
Calibration MakeCalibration(FlatFieldCorrectionInstance instance, Results settings);

// A calibration of results read back; the tables move into its instance.
Calibration MakeCalibration(Results results);

// The instance the correction reads, of results; the tables move into it.
FlatFieldCorrectionInstance MakeInstance(Results results);

// The correction rule of a generation.
ffc::Generation ToRule(Generation generation);

// Calibration::Correct of a calibration of `run` holding `instance`, with the
// threads `start` gives it; a thread that does not start leaves its bands to
// the others, with the same result.
void CorrectInBands(const FlatFieldCorrectionInstance& instance, CalibrationRun run, const cv::Mat& input,
                    cv::Mat& output, int mode, Generation generation, int threads, const ffc::ThreadStarter& start);

}  // namespace vyrffc

#endif  // VYR_FFC_API_CALIBRATION_STATE_H
