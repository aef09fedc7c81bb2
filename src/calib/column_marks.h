// Per-image column marks and the top level of each column: the segmented run
// marks the groups that step, the previous-generation run the groups that
// ripple; both then take each column's level in the brightest image that
// marks it.
#ifndef VYR_FFC_COLUMN_MARKS_H
#define VYR_FFC_COLUMN_MARKS_H

#include <cstdint>
#include <vector>

#include "instance/instance.h"

namespace ffc {

// One column in one image: its profile value and whether the marking rule of
// the run held for its group in that image.
struct ColumnMark {
    float value = 255.0f;
    bool marked = true;
};

// Marks of one image: one per column, all starting as {255.0, true}.
using ImageMarks = std::vector<ColumnMark>;

// What a marking rule says of one group in one image: skipped groups leave
// their columns as other groups mark them.
enum class GroupMark { kSkipped, kUnmarked, kMarked };

using GroupRule = GroupMark (*)(const std::vector<float>& profile, const std::vector<int32_t>& group);

// The marks of one image from its profile. Each group the rule does not skip,
// in list order, gives all its members their profile value and the rule's
// verdict, so a column in several groups keeps the mark of the last one.
ImageMarks MarkGroups(const std::vector<float>& profile, const ColumnGroups& columnGroups, int32_t imageWidth,
                      GroupRule rule);

// For every column, the mark value in the brightest image (images ordered by
// ArgsortDescending of `imageLevels`) whose mark for the column is set; 255.0
// where no image's mark is. Needs at least one image.
std::vector<float> FindTopLevels(const std::vector<ImageMarks>& marks, const std::vector<float>& imageLevels,
                                 int32_t imageWidth);

// Every image marked with the rule, then the top levels of the marks.
std::vector<float> FindMarkedTopLevels(const std::vector<std::vector<float>>& profiles,
                                       const std::vector<float>& imageLevels, const ColumnGroups& columnGroups,
                                       int32_t imageWidth, GroupRule rule);

// The reference level of one image: its profile values at the reference
// columns summed in float in list order, divided by their count as float.
float MeanOverReferenceColumns(const std::vector<float>& profile, const std::vector<int32_t>& referenceColumns);

}  // namespace ffc

#endif  // VYR_FFC_COLUMN_MARKS_H
