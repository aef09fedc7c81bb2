#include "calib/column_marks.h"

#include "fit/order_statistics.h"

namespace ffc {

std::vector<float> FindTopLevels(const std::vector<ImageMarks>& marks, const std::vector<float>& imageLevels,
                                 int32_t imageWidth) {
    const std::vector<int> brightestFirst = ArgsortDescending(imageLevels);
    std::vector<float> topLevels(imageWidth, 255.0f);
    for (int32_t c = 0; c < imageWidth; ++c) {
        for (int image : brightestFirst) {
            const ColumnMark& mark = marks[image][c];
            if (mark.stepped) {
                topLevels[c] = mark.value;
                break;
            }
        }
    }
    return topLevels;
}

float MeanOverReferenceColumns(const std::vector<float>& profile, const std::vector<int32_t>& referenceColumns) {
    float sum = 0.0f;
    for (int32_t column : referenceColumns) sum += profile[column];
    return sum / static_cast<float>(referenceColumns.size());
}

}  // namespace ffc
