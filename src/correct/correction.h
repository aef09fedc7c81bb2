// Correcting a camera image with the results stored in an instance: the work
// behind both test exports.
#ifndef VYR_FFC_CORRECTION_H
#define VYR_FFC_CORRECTION_H

#include <cstdint>

#include <opencv2/core/mat.hpp>

#include "correct/correction_plan.h"
#include "correct/strip_lookup.h"
#include "instance/instance.h"

namespace ffc {

// Corrects `input` into `output` in the given mode with the gains of the given
// generation, and says how it ended: the output is untouched when the common
// start refuses the call. An empty hole candidate list or dark range list
// throws NoHoleCandidateError or NoDarkRangeError (fill_choices.h). The
// first call in a mode fills the instance's tables of its rule; calls from
// several threads on one instance are safe. `lookup`, which must run here,
// only decides the speed.
CorrectionStatus Correct(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, cv::Mat& output,
                         int32_t mode, Generation generation, LookupPath lookup = ChosenLookupPath());

// Correct as the test exports see it: false on a null pointer and on every
// status but kCorrected.
bool CorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output, int32_t mode,
                  Generation generation);

}  // namespace ffc

#endif  // VYR_FFC_CORRECTION_H
