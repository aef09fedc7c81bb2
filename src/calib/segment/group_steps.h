// The marking rule of the segmented run: a group is marked when it shows a
// jump of more than 2 gray levels between consecutive members in its central
// half.
#ifndef VYR_FFC_GROUP_STEPS_H
#define VYR_FFC_GROUP_STEPS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "calib/column_marks.h"

namespace ffc {

// Fewest members a group needs to be looked at; smaller groups are skipped.
constexpr size_t kMinGroupSize = 4;

// kSkipped for a group of fewer than kMinGroupSize members; otherwise kMarked
// when a step profile[g[j+1]] - profile[g[j]] at a central position (n/4 < j <
// 3n/4, strict, in double) lies beyond +-2.
GroupMark GroupStepMark(const std::vector<float>& profile, const std::vector<int32_t>& group);

}  // namespace ffc

#endif  // VYR_FFC_GROUP_STEPS_H
