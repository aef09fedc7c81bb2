// The upper fit bound of the previous-generation run: each column is marked,
// per selected image, with its value and whether its group ripples in that
// image; the brightest rippled value of each column gives its top level, and
// a low order statistic of the top levels gives the bright candidate.
#ifndef VYR_FFC_LOWHIGH_GROUP_RIPPLE_H
#define VYR_FFC_LOWHIGH_GROUP_RIPPLE_H

#include <cstdint>
#include <vector>

#include "calib/column_marks.h"
#include "instance/instance.h"

namespace ffc {

// Whether the group's values swing around the group mean in alternating runs
// of at least three columns, counted over the middle half of the group: more
// good pairs (a run of the first sign followed by one of the other, both of
// three or more) than a fiftieth of the middle positions.
bool TestGroupRipple(const std::vector<float>& profile, const std::vector<int32_t>& group);

// The marks of one image: every member of a group gets its profile value and
// the ripple result of the group (the last group wins for shared columns);
// columns in no group keep {255.0, true}.
ImageMarks MarkGroupRipple(const std::vector<float>& profile, const ColumnGroups& columnGroups, int32_t imageWidth);

// The 101st smallest top level less 30, from the marks of every selected image
// (profiles and float levels in the same order); -31 for 100 columns or fewer.
float FindBrightCandidate(const std::vector<std::vector<float>>& profiles, const std::vector<float>& levels,
                          const ColumnGroups& columnGroups, int32_t imageWidth);

// The upper fit bound from the bright candidate: 180 when the candidate is
// below 200 or above 180, the candidate otherwise.
float HighBoundFromBrightCandidate(float brightCandidate);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_GROUP_RIPPLE_H
