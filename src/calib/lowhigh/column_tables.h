// The per-column stage of both low/high runs: for every column a 256-entry
// table from raw gray to reference level, a flag for a spread dark response,
// and rounded quadratic and cubic fits of the table inside the fitting range.
#ifndef VYR_FFC_LOWHIGH_COLUMN_TABLES_H
#define VYR_FFC_LOWHIGH_COLUMN_TABLES_H

#include <cstdint>
#include <vector>

#include "calib/lowhigh/fit_range.h"
#include "calib/lowhigh/image_selection.h"
#include "fit/polynomial.h"
#include "instance/instance.h"

namespace ffc {

// Entries of a mapping table, one per raw gray value.
constexpr int32_t kTableSize = 256;

// A table entry that no selected image determines (yet).
constexpr int32_t kUnknownEntry = -1;

// What one selected image shows in one column: the truncated profile value
// (raw gray) and the truncated float level of the image.
struct ColumnSample {
    int32_t raw = 0;
    int32_t level = 0;
};

// A column is flagged when the levels seen at raw 0 spread over more than 5;
// the dark range is then the lowest and highest of them.
struct DarkResponse {
    bool flagged = false;
    int32_t lowest = 0;
    int32_t highest = 0;
};

// Sets the entries of `table` (kTableSize entries, all kUnknownEntry) that the
// samples determine: per raw value the float mean of its distinct levels,
// truncated. Sorts `samples` by raw value, then level. Samples outside the
// table are ignored.
DarkResponse TabulateColumn(std::vector<ColumnSample>& samples, std::vector<int32_t>& table);

// Fills the unknown entries in increasing order: below the first known entry
// a fraction of it, between known entries one step of the remaining slope at a
// time, above the last known entry the mean slope of the last five entries (of
// as many as exist when fewer lie below). Truncates toward zero throughout. A
// table without any known entry stays unknown.
void FillTableGaps(std::vector<int32_t>& table);

// The raw values a fit may use: first <= raw < end. Both bounds are compared
// with the raw value as a float, and the comparisons are monotonic in it, so
// the values inside the range always form one run (empty for a NaN bound).
struct FitWindow {
    int32_t first = 0;
    int32_t end = 0;
};

// The window of a column strictly inside the range; a flagged column leaves
// out raw 0.
FitWindow FitWindowOf(bool flagged, const FitRange& range);

// The points (raw gray x, table entry y) of the known entries inside the
// window. Replaces the contents of x and y.
void CollectFitPoints(const std::vector<int32_t>& table, const FitWindow& window, std::vector<float>& x,
                      std::vector<float>& y);

// The factored design matrices of one list of abscissae at orders 2 and 3.
struct FitDesigns {
    std::vector<float> x;
    PolyfitDesign quadratic;
    PolyfitDesign cubic;
};

// Designs of the abscissa lists met so far. Almost every column fits the same
// abscissae, so each distinct list is factored once.
struct FitDesignCache {
    std::vector<FitDesigns> entries;
};

// The designs for exactly this abscissa list, factored on first use.
const FitDesigns& DesignsFor(FitDesignCache& cache, const std::vector<float>& x);

// Rebuilds the per-column results of the instance from the selected images:
// `columnLuts`, `columnFlags`, `columnDarkRanges`, and `quadCoeffs` and
// `cubicCoeffs` fitted inside `range` and rounded to `significantDigits`.
void CalibrateColumns(FlatFieldCorrectionInstance& instance, const SelectedImages& selected,
                      const FitRange& range, uint32_t significantDigits);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_COLUMN_TABLES_H
