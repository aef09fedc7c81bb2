// The correction shapes: how the regular values, dark pixels and holes of an
// image become its output. Each pixel's regular value comes from the values
// prepared for the call, so the shapes serve every mode of both test exports.
#ifndef VYR_FFC_CORRECTION_SHAPES_H
#define VYR_FFC_CORRECTION_SHAPES_H

#include <opencv2/core/mat.hpp>

#include "eval/regular_values.h"
#include "instance/instance.h"

namespace ffc {

// Every pixel gets its regular value (modes 0 and 1).
void ApplyPolyvalInt(const RegularValues& values, const cv::Mat& input, cv::Mat& output);

// Dark pixels copy their left neighbour clamped into their own dark range; a
// row's leading dark run is filled afterwards from its first regular pixel
// leftwards (mode 5).
void ApplyDarkBackward(const FlatFieldCorrectionInstance& instance, const RegularValues& values,
                       const cv::Mat& input, cv::Mat& output);

// Dark pixels copy their left neighbour clamped into their own dark range; a
// dark column 0 takes the row's first regular value (mode 6 and the default).
void ApplyDarkForward(const FlatFieldCorrectionInstance& instance, const RegularValues& values,
                      const cv::Mat& input, cv::Mat& output);

// Table values, then holes filled from their mapped neighbours with the
// nearest hole candidate (mode 4). False when some row could not be filled;
// its holes are written as 0.
bool ApplyLutWithHoleFill(const FlatFieldCorrectionInstance& instance, const RegularValues& values,
                          const cv::Mat& input, cv::Mat& output);

}  // namespace ffc

#endif  // VYR_FFC_CORRECTION_SHAPES_H
