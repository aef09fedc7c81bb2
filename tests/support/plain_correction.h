// The correction rules written plainly, pixel by pixel, evaluating each
// column's rule at every pixel. Slow; it is the reference the fast
// correction is checked against bit for bit, and the baseline it is timed
// against.
#ifndef FFC_TESTS_SUPPORT_PLAIN_CORRECTION_H
#define FFC_TESTS_SUPPORT_PLAIN_CORRECTION_H

#include <cstdint>

#include <opencv2/core/mat.hpp>

#include "correct/correction_plan.h"
#include "instance/instance.h"

namespace ffc {

// Same contract as the test exports of the given generation.
bool PlainCorrectImage(const FlatFieldCorrectionInstance* instance, const cv::Mat* input, cv::Mat* output,
                       int32_t mode, Generation generation);

}  // namespace ffc

#endif  // FFC_TESTS_SUPPORT_PLAIN_CORRECTION_H
