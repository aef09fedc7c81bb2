// Per-image column marks and the top level of each column: shared by the
// segmented run (marked by group steps) and the previous-generation run
// (marked by group ripple).
#ifndef VYR_FFC_COLUMN_MARKS_H
#define VYR_FFC_COLUMN_MARKS_H

#include <cstdint>
#include <vector>

namespace ffc {

// One column in one image: its profile value and whether the marking rule of
// the run held for its group in that image.
struct ColumnMark {
    float value = 255.0f;
    bool stepped = true;
};

// Marks of one image: one per column, all starting as {255.0, true}.
using ImageMarks = std::vector<ColumnMark>;

// For every column, the mark value in the brightest image (images ordered by
// ArgsortDescending of `imageLevels`) whose mark for the column is stepped;
// 255.0 where no image's mark is. Needs at least one image.
std::vector<float> FindTopLevels(const std::vector<ImageMarks>& marks, const std::vector<float>& imageLevels,
                                 int32_t imageWidth);

// The reference level of one image: its profile values at the reference
// columns summed in float in list order, divided by their count as float.
float MeanOverReferenceColumns(const std::vector<float>& profile, const std::vector<int32_t>& referenceColumns);

}  // namespace ffc

#endif  // VYR_FFC_COLUMN_MARKS_H
