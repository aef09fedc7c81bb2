// Marks of one calibration image for the segmented run: a column is marked
// stepped when its group shows a jump of more than 2 gray levels between
// consecutive members in the group's central half.
#ifndef VYR_FFC_GROUP_STEPS_H
#define VYR_FFC_GROUP_STEPS_H

#include <cstdint>
#include <vector>

#include "calib/column_marks.h"
#include "instance/instance.h"

namespace ffc {

// Fewest members a group needs to be looked at; smaller groups are skipped and
// leave their columns as other groups mark them.
constexpr size_t kMinGroupSize = 4;

// The marks of one image from its profile. Every column starts at {255.0,
// stepped}; each group of at least kMinGroupSize indices, in list order, marks
// all its members with their profile value and the group's stepped state, so a
// column in several groups keeps the mark of the last one.
ImageMarks MarkGroupSteps(const std::vector<float>& profile, const ColumnGroups& columnGroups, int32_t imageWidth);

}  // namespace ffc

#endif  // VYR_FFC_GROUP_STEPS_H
