// Small order statistics used by the calibration runs.
#ifndef VYR_FFC_ORDER_STATISTICS_H
#define VYR_FFC_ORDER_STATISTICS_H

#include <vector>

namespace ffc {

// The element at ascending position k (k = 0 is the minimum), or -1 when the
// vector is empty or k lies outside it.
float KthSmallest(std::vector<float> values, int k);

// The element at ascending position size-1-k (k = 0 is the maximum), or -1
// when the vector is empty or k lies outside it.
float KthLargest(std::vector<float> values, int k);

// Indices 0..n-1 ordered by decreasing value (std::sort with values[a] >
// values[b]; equal values come in the order that sort leaves them).
std::vector<int> ArgsortDescending(const std::vector<float>& values);

}  // namespace ffc

#endif  // VYR_FFC_ORDER_STATISTICS_H
