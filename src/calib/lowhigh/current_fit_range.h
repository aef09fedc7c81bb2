// The gray range that the current-generation fits use (the previous
// generation's is in previous_fit_range.h), chosen from the ripple of the selected
// images over the host's column groups: a low image where the ripple becomes
// measurable and a high image where the smoothed ripple starts a sustained
// fall, whose median column values give the bounds.
#ifndef VYR_FFC_LOWHIGH_CURRENT_FIT_RANGE_H
#define VYR_FFC_LOWHIGH_CURRENT_FIT_RANGE_H

#include <cstdint>
#include <vector>

#include "calib/lowhigh/fit_range.h"
#include "instance/instance.h"

namespace ffc {

// The ripple reported for a group whose alternations cannot be measured.
constexpr float kUnmeasuredRipple = -1.0f;

// The current generation's ripple measure, for its fit range: mean
// peak-to-trough height of the alternating runs of at least three
// columns above and below the group mean, over the middle three fifths of the
// group; kUnmeasuredRipple when too few alternations close.
float MeasureGroupRipple(const std::vector<float>& profile, const std::vector<int32_t>& group);

// Mean of each entry with its existing neighbours (window clipped at the ends).
std::vector<float> MovingAverage3(const std::vector<float>& values);

// values[i+1] - values[i] for every consecutive pair.
std::vector<float> Differences(const std::vector<float>& values);

// Index of the peak before the first sustained fall: the first i where
// differences[i] turns negative and stays negative for the next four steps
// (or up to the end); the last index of `smoothed` when there is none.
int32_t FindSustainedDrop(const std::vector<float>& smoothed, const std::vector<float>& differences);

// The current generation's fit range: the low and high images of the
// selection (profiles in increasing level) and from their medians the bounds,
// widened to at least 35..180.
FitRange CurrentGenerationFitRange(const std::vector<std::vector<float>>& profiles, const ColumnGroups& columnGroups,
                        int32_t imageWidth);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_CURRENT_FIT_RANGE_H
