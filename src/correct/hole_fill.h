// Mode 4: table values, then holes filled from their mapped neighbours with
// the nearest hole candidate.
#ifndef VYR_FFC_HOLE_FILL_H
#define VYR_FFC_HOLE_FILL_H

#include <opencv2/core/mat.hpp>

#include "correct/prepared_rule.h"
#include "instance/instance.h"

namespace ffc {

// False when some row could not be filled; its holes are written as 0.
bool ApplyLutWithHoleFill(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared,
                          const cv::Mat& input, cv::Mat& output);

}  // namespace ffc

#endif  // VYR_FFC_HOLE_FILL_H
