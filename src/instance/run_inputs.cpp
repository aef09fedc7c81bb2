#include "instance/instance.h"

namespace ffc {

namespace {

bool IsColumnOfImage(int32_t column, int32_t imageWidth) {
    return column >= 0 && column < imageWidth;
}

}  // namespace

bool RunInputsAreValid(const FlatFieldCorrectionInstance& instance, const ColumnGroups& columnGroups) {
    // Every run starts here; the tables of the results it may replace go.
    instance.preparedTables.Drop();
    if (instance.imageWidth <= 0 || instance.imageHeight <= 0) return false;
    if (instance.referenceColumns.empty()) return false;
    for (int32_t column : instance.referenceColumns) {
        if (!IsColumnOfImage(column, instance.imageWidth)) return false;
    }
    for (const std::vector<int32_t>& group : columnGroups) {
        for (int32_t column : group) {
            if (!IsColumnOfImage(column, instance.imageWidth)) return false;
        }
    }
    return true;
}

}  // namespace ffc
