// Modes 5, 6 and the default: regular pixels get their regular value; a dark
// pixel (raw 0 in a flagged column) continues the row from its left
// neighbour, clamped into its own dark range.
#ifndef VYR_FFC_DARK_FILL_H
#define VYR_FFC_DARK_FILL_H

#include <opencv2/core/mat.hpp>

#include "correct/prepared_rule.h"
#include "instance/instance.h"

namespace ffc {

// A row's leading dark run is filled afterwards from its first regular pixel
// leftwards (mode 5).
void ApplyDarkBackward(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared,
                       const cv::Mat& input, cv::Mat& output);

// A dark column 0 takes the row's first regular value (mode 6 and the
// default).
void ApplyDarkForward(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared,
                      const cv::Mat& input, cv::Mat& output);

}  // namespace ffc

#endif  // VYR_FFC_DARK_FILL_H
