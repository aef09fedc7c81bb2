// The per-column stage of both low/high runs: each column's table, then
// rounded quadratic and cubic fits of the table inside the fit range.
#ifndef VYR_FFC_LOWHIGH_COLUMN_FITS_H
#define VYR_FFC_LOWHIGH_COLUMN_FITS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "calib/lowhigh/fit_range.h"
#include "calib/lowhigh/image_selection.h"
#include "fit/polynomial.h"
#include "instance/instance.h"

namespace ffc {

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

// The per-column results of a low/high run, computed apart from the instance
// so that a run writes the instance only once everything is computed.
struct ColumnResults {
    std::vector<std::vector<int32_t>> columnLuts;
    std::vector<int32_t> columnFlags;
    std::vector<std::vector<int32_t>> columnDarkRanges;
    std::vector<std::vector<float>> quadCoeffs;
    std::vector<std::vector<float>> cubicCoeffs;
};

// For every column of `width` from the selected images: its table,
// dark-response flag and dark range, and its quadratic and cubic fits inside
// `range`, rounded to `significantDigits`.
ColumnResults CalibrateColumns(int32_t width, const SelectedImages& selected, const FitRange& range,
                               uint32_t significantDigits);

// Moves the results into the instance; cannot throw.
void CommitColumnResults(ColumnResults&& results, FlatFieldCorrectionInstance& instance) noexcept;

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_COLUMN_FITS_H
