// Correcting a camera image with the results stored in an instance: the work
// behind both test exports.
#ifndef VYR_FFC_CORRECTION_H
#define VYR_FFC_CORRECTION_H

#include <cstdint>

#include <opencv2/core/mat.hpp>

#include "correct/correction_plan.h"
#include "instance/instance.h"

namespace ffc {

// Corrects `input` into `output` in the given mode with the gains of the given
// generation. False, output untouched, on a null pointer or when the common
// start rejects the call; false also when mode 4 leaves holes it cannot fill.
bool CorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output, int32_t mode,
                  Generation generation);

}  // namespace ffc

#endif  // VYR_FFC_CORRECTION_H
