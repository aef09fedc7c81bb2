#include "calib/lowhigh/column_tables.h"

#include <algorithm>
#include <array>
#include <utility>

#include "fit/rounding.h"

namespace ffc {

namespace {

// Differences between levels seen at raw 0 up to this are noise, not a
// spread dark response.
constexpr int32_t kLargestUnflaggedDarkSpread = 5;

// Entries whose slope extrapolates the table above its last known entry.
constexpr int32_t kExtrapolationSpan = 5;

// Abscissa lists kept at most; a run rarely meets more than a few.
constexpr size_t kCachedDesignLimit = 16;

bool SampleBefore(const ColumnSample& a, const ColumnSample& b) {
    return a.raw < b.raw || (a.raw == b.raw && a.level < b.level);
}

int32_t Truncate(double value) {
    return static_cast<int32_t>(value);
}

}  // namespace

DarkResponse TabulateColumn(std::vector<ColumnSample>& samples, std::vector<int32_t>& table) {
    std::sort(samples.begin(), samples.end(), SampleBefore);
    DarkResponse dark;
    size_t first = 0;
    while (first < samples.size()) {
        const int32_t raw = samples[first].raw;
        // Each distinct level counts once, summed in ascending order.
        float sum = 0.0f;
        int32_t count = 0;
        size_t end = first;
        for (; end < samples.size() && samples[end].raw == raw; ++end) {
            if (end > first && samples[end].level == samples[end - 1].level) continue;
            sum += static_cast<float>(samples[end].level);
            ++count;
        }
        if (raw >= 0 && raw < kTableSize) {
            table[raw] = static_cast<int32_t>(sum / static_cast<float>(count));
        }
        const int32_t lowest = samples[first].level;
        const int32_t highest = samples[end - 1].level;
        if (raw == 0 && highest - lowest > kLargestUnflaggedDarkSpread) dark = {true, lowest, highest};
        first = end;
    }
    return dark;
}

void FillTableGaps(std::vector<int32_t>& table) {
    // Entries above the one being filled are still the known ones, so the next
    // known index can be found before filling starts.
    std::array<int32_t, kTableSize> nextKnown;
    int32_t next = -1;
    for (int32_t b = kTableSize - 1; b >= 0; --b) {
        nextKnown[b] = next;
        if (table[b] != kUnknownEntry) next = b;
    }

    int32_t prev = -1;
    for (int32_t b = 0; b < kTableSize; ++b) {
        if (table[b] == kUnknownEntry) {
            next = nextKnown[b];
            if (next >= 0 && prev < 0) {
                table[b] = Truncate(static_cast<double>(table[next]) / static_cast<double>(next));
            } else if (next >= 0) {
                table[b] = Truncate(static_cast<double>(table[next] - table[prev]) / static_cast<double>(next - prev) +
                                    static_cast<double>(table[prev]));
            } else if (prev >= 0) {
                // Near the bottom of the table the slope spans only the
                // entries that exist.
                const int32_t span = std::min(kExtrapolationSpan, prev);
                table[b] = span == 0 ? table[prev]
                                     : Truncate(static_cast<double>(table[prev]) +
                                                static_cast<double>(table[prev] - table[prev - span]) /
                                                    static_cast<double>(span));
            }
        }
        // A filled entry that came out as kUnknownEntry does not count as known.
        if (table[b] != kUnknownEntry) prev = b;
    }
}

void CollectFitPoints(const std::vector<int32_t>& table, bool flagged, const FitRange& range,
                      std::vector<float>& x, std::vector<float>& y) {
    x.clear();
    y.clear();
    // A flagged column's raw 0 stands for several light levels at once.
    for (int32_t raw = flagged ? 1 : 0; raw < kTableSize; ++raw) {
        const float rawValue = static_cast<float>(raw);
        if (table[raw] == kUnknownEntry || !(range.lowBound < rawValue) || !(rawValue < range.highBound)) continue;
        x.push_back(rawValue);
        y.push_back(static_cast<float>(table[raw]));
    }
}

const FitDesigns& DesignsFor(FitDesignCache& cache, const std::vector<float>& x) {
    for (const FitDesigns& designs : cache.entries) {
        if (designs.x == x) return designs;
    }
    if (cache.entries.size() >= kCachedDesignLimit) cache.entries.erase(cache.entries.begin());
    cache.entries.push_back({x, FactorPolyfitDesign(x, 2), FactorPolyfitDesign(x, 3)});
    return cache.entries.back();
}

void CalibrateColumns(FlatFieldCorrectionInstance& instance, const SelectedImages& selected,
                      const FitRange& range, uint32_t significantDigits) {
    const int32_t width = instance.imageWidth;
    instance.quadCoeffs.resize(width);
    instance.cubicCoeffs.resize(width);
    instance.columnFlags.resize(width);
    instance.columnDarkRanges.resize(width);
    instance.columnLuts.clear();
    instance.columnLuts.reserve(width);

    const size_t imageCount = selected.profiles.size();
    std::vector<int32_t> levels(imageCount);
    for (size_t i = 0; i < imageCount; ++i) levels[i] = static_cast<int32_t>(selected.levels[i]);

    // Buffers reused by every column.
    std::vector<ColumnSample> samples;
    samples.reserve(imageCount);
    std::vector<float> x;
    std::vector<float> y;
    FitDesignCache cache;

    for (int32_t c = 0; c < width; ++c) {
        samples.clear();
        for (size_t i = 0; i < imageCount; ++i) {
            samples.push_back({static_cast<int32_t>(selected.profiles[i][c]), levels[i]});
        }
        std::vector<int32_t> table(kTableSize, kUnknownEntry);
        const DarkResponse dark = TabulateColumn(samples, table);
        FillTableGaps(table);
        CollectFitPoints(table, dark.flagged, range, x, y);
        instance.columnLuts.push_back(std::move(table));

        instance.columnFlags[c] = dark.flagged ? -1 : 0;
        if (dark.flagged) {
            instance.columnDarkRanges[c] = {dark.lowest, dark.highest};
        } else {
            instance.columnDarkRanges[c].clear();
        }

        const FitDesigns& designs = DesignsFor(cache, x);
        instance.quadCoeffs[c] = SolvePolyfit(designs.quadratic, y);
        RoundToSignificantDigits(instance.quadCoeffs[c], significantDigits);
        instance.cubicCoeffs[c] = SolvePolyfit(designs.cubic, y);
        RoundToSignificantDigits(instance.cubicCoeffs[c], significantDigits);
    }
}

}  // namespace ffc
