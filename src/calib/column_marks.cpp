#include "calib/column_marks.h"

#include "fit/order_statistics.h"

namespace ffc {

ImageMarks MarkGroups(const std::vector<float>& profile, const ColumnGroups& columnGroups, int32_t imageWidth,
                      GroupRule rule) {
    ImageMarks marks(imageWidth);
    for (const std::vector<int32_t>& group : columnGroups) {
        const GroupMark mark = rule(profile, group);
        if (mark == GroupMark::kSkipped) continue;
        const bool marked = mark == GroupMark::kMarked;
        for (int32_t column : group) marks[column] = ColumnMark{profile[column], marked};
    }
    return marks;
}

std::vector<float> FindTopLevels(const std::vector<ImageMarks>& marks, const std::vector<float>& imageLevels,
                                 int32_t imageWidth) {
    const std::vector<int> brightestFirst = ArgsortDescending(imageLevels);
    std::vector<float> topLevels(imageWidth, 255.0f);
    for (int32_t c = 0; c < imageWidth; ++c) {
        for (int image : brightestFirst) {
            const ColumnMark& mark = marks[image][c];
            if (mark.marked) {
                topLevels[c] = mark.value;
                break;
            }
        }
    }
    return topLevels;
}

std::vector<float> FindMarkedTopLevels(const std::vector<std::vector<float>>& profiles,
                                       const std::vector<float>& imageLevels, const ColumnGroups& columnGroups,
                                       int32_t imageWidth, GroupRule rule) {
    std::vector<ImageMarks> marks;
    marks.reserve(profiles.size());
    for (const std::vector<float>& profile : profiles) {
        marks.push_back(MarkGroups(profile, columnGroups, imageWidth, rule));
    }
    return FindTopLevels(marks, imageLevels, imageWidth);
}

float MeanOverReferenceColumns(const std::vector<float>& profile, const std::vector<int32_t>& referenceColumns) {
    float sum = 0.0f;
    for (int32_t column : referenceColumns) sum += profile[column];
    return sum / static_cast<float>(referenceColumns.size());
}

}  // namespace ffc
