#include "calib/lowhigh/column_fits.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "calib/lowhigh/column_tables.h"
#include "fit/rounding.h"

namespace ffc {

namespace {

constexpr size_t kQuadraticCoefficients = 3;
constexpr size_t kCubicCoefficients = 4;

// Abscissa lists kept at most; a run rarely meets more than a few.
constexpr size_t kCachedDesignLimit = 16;

FitDesigns FactorFitDesigns(const std::vector<float>& x) {
    return {x, FactorPolyfitDesign(x, 2), FactorPolyfitDesign(x, 3)};
}

}  // namespace

FitWindow FitWindowOf(bool flagged, const FitRange& range) {
    // A flagged column's raw 0 stands for several light levels at once.
    FitWindow window;
    window.first = flagged ? 1 : 0;
    while (window.first < kTableSize && !(range.lowBound < static_cast<float>(window.first))) ++window.first;
    window.end = window.first;
    while (window.end < kTableSize && static_cast<float>(window.end) < range.highBound) ++window.end;
    return window;
}

void CollectFitPoints(const std::vector<int32_t>& table, const FitWindow& window, std::vector<float>& x,
                      std::vector<float>& y) {
    const auto first = table.begin() + window.first;
    const auto end = table.begin() + window.end;
    if (std::find(first, end, kUnknownEntry) == end) {
        // The usual case: every entry of the window is known.
        const size_t count = static_cast<size_t>(window.end - window.first);
        x.resize(count);
        y.resize(count);
        for (size_t i = 0; i < count; ++i) {
            x[i] = static_cast<float>(window.first + static_cast<int32_t>(i));
            y[i] = static_cast<float>(first[i]);
        }
        return;
    }
    x.resize(kTableSize);
    y.resize(kTableSize);
    size_t count = 0;
    for (int32_t raw = window.first; raw < window.end; ++raw) {
        if (table[raw] == kUnknownEntry) continue;
        x[count] = static_cast<float>(raw);
        y[count] = static_cast<float>(table[raw]);
        ++count;
    }
    x.resize(count);
    y.resize(count);
}

const FitDesigns& DesignsFor(FitDesignCache& cache, const std::vector<float>& x) {
    for (const FitDesigns& designs : cache.entries) {
        if (designs.x == x) return designs;
    }
    if (cache.entries.size() >= kCachedDesignLimit) cache.entries.erase(cache.entries.begin());
    cache.entries.push_back(FactorFitDesigns(x));
    return cache.entries.back();
}

ColumnResults CalibrateColumns(int32_t width, const SelectedImages& selected, const FitRange& range,
                               uint32_t significantDigits) {
    // Every result is allocated up front in one sweep, which keeps them
    // together; allocated column by column between the fits' own buffers
    // they spread over about twice as many fresh pages.
    ColumnResults results;
    results.quadCoeffs.assign(width, std::vector<float>(kQuadraticCoefficients));
    results.cubicCoeffs.assign(width, std::vector<float>(kCubicCoefficients));
    results.columnFlags.resize(width);
    results.columnDarkRanges.resize(width);
    results.columnLuts.assign(width, std::vector<int32_t>(kTableSize, kUnknownEntry));

    const size_t imageCount = selected.profiles.size();
    std::vector<int32_t> levels(imageCount);
    for (size_t i = 0; i < imageCount; ++i) levels[i] = static_cast<int32_t>(selected.levels[i]);

    // Buffers reused by every column.
    std::vector<ColumnSample> samples;
    samples.reserve(imageCount);
    std::vector<float> x;
    std::vector<float> y;
    Eigen::VectorXf work;
    FitDesignCache cache;

    // Nearly every column knows every entry of its window, so its abscissae
    // are the whole window: those designs are factored once per run, apart
    // from the cache of the other lists.
    const FitWindow windows[2] = {FitWindowOf(false, range), FitWindowOf(true, range)};
    std::optional<FitDesigns> wholeWindowDesigns[2];

    for (int32_t c = 0; c < width; ++c) {
        samples.clear();
        for (size_t i = 0; i < imageCount; ++i) {
            samples.push_back({static_cast<int32_t>(selected.profiles[i][c]), levels[i]});
        }
        std::vector<int32_t>& table = results.columnLuts[c];
        const DarkResponse dark = TabulateColumn(samples, table);
        FillTableGaps(table);
        const FitWindow& window = windows[dark.flagged];
        CollectFitPoints(table, window, x, y);

        results.columnFlags[c] = dark.flagged ? -1 : 0;
        if (dark.flagged) {
            results.columnDarkRanges[c] = {dark.lowest, dark.highest};
        } else {
            results.columnDarkRanges[c].clear();
        }

        // The points are a subset of the window in order, so as many points
        // as window entries means exactly the window's abscissae.
        const FitDesigns* designs = nullptr;
        if (x.size() == static_cast<size_t>(window.end - window.first)) {
            std::optional<FitDesigns>& whole = wholeWindowDesigns[dark.flagged];
            if (!whole) whole = FactorFitDesigns(x);
            designs = &*whole;
        } else {
            designs = &DesignsFor(cache, x);
        }
        SolvePolyfitInto(designs->quadratic, y.data(), work, results.quadCoeffs[c]);
        RoundToSignificantDigits(results.quadCoeffs[c], significantDigits);
        SolvePolyfitInto(designs->cubic, y.data(), work, results.cubicCoeffs[c]);
        RoundToSignificantDigits(results.cubicCoeffs[c], significantDigits);
    }
    return results;
}

void CommitColumnResults(ColumnResults&& results, FlatFieldCorrectionInstance& instance) noexcept {
    instance.columnLuts.swap(results.columnLuts);
    instance.columnFlags.swap(results.columnFlags);
    instance.columnDarkRanges.swap(results.columnDarkRanges);
    instance.quadCoeffs.swap(results.quadCoeffs);
    instance.cubicCoeffs.swap(results.cubicCoeffs);
}

}  // namespace ffc
