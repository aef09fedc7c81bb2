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

// The columns met so far, found by their raw values. Every result of a
// column follows from its raw values alone, the levels being the same for
// all columns; with few images many columns have the same raw values.
class ColumnsByRawValues {
public:
    ColumnsByRawValues(size_t imageCount, int32_t width)
        : imageCount_(imageCount), raws_(imageCount * static_cast<size_t>(width)), slots_(SlotCount(width), -1) {}

    // The raw values of column c, to be filled before Find.
    int32_t* RawsOf(int32_t c) { return raws_.data() + imageCount_ * static_cast<size_t>(c); }

    // An earlier column with the same raw values as c, or -1 (then c is kept).
    int32_t FindOrKeep(int32_t c) {
        const int32_t* raws = RawsOf(c);
        uint64_t hash = 0x9E3779B97F4A7C15u;
        for (size_t i = 0; i < imageCount_; ++i) hash = (hash ^ static_cast<uint32_t>(raws[i])) * 0x100000001B3u;
        const size_t mask = slots_.size() - 1;
        for (size_t slot = (hash ^ (hash >> 29)) & mask;; slot = (slot + 1) & mask) {
            const int32_t kept = slots_[slot];
            if (kept < 0) {
                slots_[slot] = c;
                return -1;
            }
            if (std::equal(raws, raws + imageCount_, RawsOf(kept))) return kept;
        }
    }

private:
    // A power of two at least twice the width, so that probes stay short.
    static size_t SlotCount(int32_t width) {
        size_t count = 1;
        while (count < 2 * static_cast<size_t>(width)) count *= 2;
        return count;
    }

    size_t imageCount_;
    std::vector<int32_t> raws_;
    std::vector<int32_t> slots_;
};

void CopyColumnResults(ColumnResults& results, int32_t from, int32_t to) {
    results.columnLuts[to] = results.columnLuts[from];
    results.columnFlags[to] = results.columnFlags[from];
    results.columnDarkRanges[to] = results.columnDarkRanges[from];
    results.quadCoeffs[to] = results.quadCoeffs[from];
    results.cubicCoeffs[to] = results.cubicCoeffs[from];
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
    std::vector<int32_t> known;
    std::vector<float> x;
    std::vector<float> y;
    Eigen::VectorXf work;
    FitDesignCache cache;
    ColumnsByRawValues columns(imageCount, width);

    // Nearly every column knows every entry of its window, so its abscissae
    // are the whole window: those designs are factored once per run, apart
    // from the cache of the other lists.
    const FitWindow windows[2] = {FitWindowOf(false, range), FitWindowOf(true, range)};
    std::optional<FitDesigns> wholeWindowDesigns[2];

    for (int32_t c = 0; c < width; ++c) {
        int32_t* raws = columns.RawsOf(c);
        for (size_t i = 0; i < imageCount; ++i) raws[i] = static_cast<int32_t>(selected.profiles[i][c]);
        const int32_t same = columns.FindOrKeep(c);
        if (same >= 0) {
            CopyColumnResults(results, same, c);
            continue;
        }
        samples.clear();
        for (size_t i = 0; i < imageCount; ++i) samples.push_back({raws[i], levels[i]});
        std::vector<int32_t>& table = results.columnLuts[c];
        const DarkResponse dark = TabulateColumn(samples, table);
        ListKnownEntries(samples, table, known);
        FillTableGapsOfKnown(table, known);
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
