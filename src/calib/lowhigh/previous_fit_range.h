// The fit range of the previous-generation run: from raw 0 up to a bound from
// the ripple marks. Each column is marked, per selected image, with its value
// and whether its group ripples in that image; the brightest rippled value of
// each column gives its top level, and a low order statistic of the top levels
// gives the bright candidate. (The current generation measures ripple its own
// way, in current_fit_range.h.)
#ifndef VYR_FFC_LOWHIGH_PREVIOUS_FIT_RANGE_H
#define VYR_FFC_LOWHIGH_PREVIOUS_FIT_RANGE_H

#include <cstdint>
#include <vector>

#include "calib/column_marks.h"
#include "calib/lowhigh/fit_range.h"
#include "calib/lowhigh/image_selection.h"
#include "instance/instance.h"

namespace ffc {

// The previous generation's ripple test: whether the group's values swing
// around the group mean in alternating runs of at least three columns,
// counted over the middle half of the group: more good pairs (a run of the
// first sign followed by one of the other, both of three or more) than a
// fiftieth of the middle positions.
bool GroupIsRippled(const std::vector<float>& profile, const std::vector<int32_t>& group);

// The marking rule of the previous-generation run: kMarked for a rippled
// group, kUnmarked otherwise; no group is skipped.
GroupMark GroupRippleMark(const std::vector<float>& profile, const std::vector<int32_t>& group);

// The 101st smallest top level less 30, from the marks of every selected image
// (profiles and float levels in the same order); -31 for 100 columns or fewer.
float FindBrightCandidate(const std::vector<std::vector<float>>& profiles, const std::vector<float>& levels,
                          const ColumnGroups& columnGroups, int32_t imageWidth);

// The upper fit bound from the bright candidate: 180 when the candidate is
// below 200 or above 180, the candidate otherwise.
float HighBoundFromBrightCandidate(float brightCandidate);

// The previous generation's fit range: 0 up to the high bound from the bright
// candidate of the selected images.
FitRange PreviousGenerationFitRange(const SelectedImages& selected, const ColumnGroups& columnGroups,
                                    int32_t imageWidth);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_PREVIOUS_FIT_RANGE_H
