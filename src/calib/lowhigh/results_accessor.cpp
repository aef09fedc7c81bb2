#include "calib/lowhigh/results_accessor.h"

#include <utility>

#include "instance/column_readers.h"

namespace ffc {

void CopyOutColumnResults(const FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>>* quadCoeffs,
                          std::vector<std::vector<float>>* cubicCoeffs, std::vector<bool>* columnFlags,
                          std::vector<std::vector<uint8_t>>* columnDarkRanges) {
    if (quadCoeffs != nullptr) *quadCoeffs = instance.quadCoeffs;
    if (cubicCoeffs != nullptr) *cubicCoeffs = instance.cubicCoeffs;

    const size_t columnCount = instance.quadCoeffs.size();
    std::vector<bool> flags(columnCount, false);
    std::vector<std::vector<uint8_t>> darkRanges(columnCount);
    for (size_t c = 0; c < columnCount; ++c) {
        if (!ColumnHasDarkRange(instance, static_cast<int>(c))) continue;
        flags[c] = true;
        const std::vector<int32_t>& range = instance.columnDarkRanges[c];
        darkRanges[c] = {static_cast<uint8_t>(range[0]), static_cast<uint8_t>(range[1])};
    }
    if (columnFlags != nullptr) *columnFlags = std::move(flags);
    if (columnDarkRanges != nullptr) *columnDarkRanges = std::move(darkRanges);
}

}  // namespace ffc
