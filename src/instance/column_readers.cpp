#include "instance/column_readers.h"

namespace ffc {

namespace {

const std::vector<int32_t>& EmptyList() {
    static const std::vector<int32_t> empty;
    return empty;
}

}  // namespace

const std::vector<int32_t>& DarkRangesOf(const FlatFieldCorrectionInstance& instance, int column) {
    if (static_cast<size_t>(column) < instance.columnDarkRanges.size()) return instance.columnDarkRanges[column];
    return EmptyList();
}

bool ColumnHasDarkRange(const FlatFieldCorrectionInstance& instance, int column) {
    return ColumnIsFlagged(instance, column) && DarkRangesOf(instance, column).size() >= 2;
}

const std::vector<int32_t>& HoleCandidatesOf(const FlatFieldCorrectionInstance& instance, int column,
                                             int holeRaw) {
    if (static_cast<size_t>(column) >= instance.lutHoleCandidates.size()) return EmptyList();
    const std::vector<std::vector<int32_t>>& levels = instance.lutHoleCandidates[column];
    if (static_cast<size_t>(holeRaw) >= levels.size()) return EmptyList();
    return levels[holeRaw];
}

}  // namespace ffc
