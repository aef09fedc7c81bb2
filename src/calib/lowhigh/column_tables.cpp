#include "calib/lowhigh/column_tables.h"

#include <algorithm>
#include <array>

namespace ffc {

namespace {

// Differences between levels seen at raw 0 up to this are noise, not a
// spread dark response.
constexpr int32_t kLargestUnflaggedDarkSpread = 5;

// Entries whose slope extrapolates the table above its last known entry.
constexpr int32_t kExtrapolationSpan = 5;

bool SampleBefore(const ColumnSample& a, const ColumnSample& b) {
    return a.raw < b.raw || (a.raw == b.raw && a.level < b.level);
}

// Reciprocals ceil(2^32 / d) of the divisors 1..kTableSize: for 0 <= n <
// 2^24 and d <= 256, (n * reciprocal) >> 32 is exactly floor(n / d), since the
// rounding excess n * (reciprocal * d - 2^32) / 2^32 stays below 1 / d.
struct Reciprocals {
    std::array<uint64_t, kTableSize + 1> ofDivisor{};
    constexpr Reciprocals() {
        for (uint64_t d = 1; d <= kTableSize; ++d) ofDivisor[d] = ((uint64_t{1} << 32) + d - 1) / d;
    }
};

constexpr Reciprocals kReciprocals;

constexpr int64_t kExactReciprocalLimit = int64_t{1} << 24;

// trunc(numerator / divisor) for a divisor in 1..kTableSize. The table
// entries come from the quotients of whole numbers: their distance to the
// next whole number is at least 1 / divisor, far above the rounding of the
// double quotient and sum, so this equals truncating
// (double)difference / divisor + (double)base, with the numerator
// base * divisor + difference.
int32_t TruncatedQuotient(int64_t numerator, int32_t divisor) {
    const uint64_t magnitude = static_cast<uint64_t>(numerator < 0 ? -numerator : numerator);
    if (magnitude >= static_cast<uint64_t>(kExactReciprocalLimit)) {
        return static_cast<int32_t>(numerator / divisor);
    }
    const int64_t quotient = static_cast<int64_t>((magnitude * kReciprocals.ofDivisor[divisor]) >> 32);
    return static_cast<int32_t>(numerator < 0 ? -quotient : quotient);
}

// trunc(base + difference / divisor), formed as the whole quotient above.
int32_t StepTowards(int32_t base, int32_t difference, int32_t divisor) {
    return TruncatedQuotient(static_cast<int64_t>(base) * divisor + difference, divisor);
}

// Fills the entries strictly between the entries at `from` and `to` (both not
// negative) at once. Stepping one entry at a time towards `to`, each
// step is floor(remaining difference / remaining distance), which with
// difference = q * distance + s (0 <= s < distance) gives distance - s steps
// of q followed by s steps of q + 1.
void FillBetweenKnownEntries(std::vector<int32_t>& table, int32_t from, int32_t to) {
    const int32_t distance = to - from;
    if (distance < 2) return;
    const int32_t base = table[from];
    const int32_t difference = table[to] - base;
    int32_t step = TruncatedQuotient(difference, distance);
    if (difference < 0 && step * distance != difference) --step;
    const int32_t longerStepsFrom = distance - (difference - step * distance);
    // Gaps are mostly a few entries long, too short for a vector loop: each
    // entry is its neighbour plus one step.
    int32_t* entry = table.data() + from;
    for (int32_t j = 1; j < distance; ++j) entry[j] = entry[j - 1] + (j > longerStepsFrom ? step + 1 : step);
}

}  // namespace

DarkResponse TabulateColumn(std::vector<ColumnSample>& samples, std::vector<int32_t>& table) {
    // Profiles mostly rise with the level, so the samples usually come sorted.
    if (!std::is_sorted(samples.begin(), samples.end(), SampleBefore)) {
        std::sort(samples.begin(), samples.end(), SampleBefore);
    }
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

void ListKnownEntries(const std::vector<ColumnSample>& samples, const std::vector<int32_t>& table,
                      std::vector<int32_t>& known) {
    known.clear();
    for (const ColumnSample& sample : samples) {
        const int32_t raw = sample.raw;
        if (raw < 0 || raw >= kTableSize || table[raw] == kUnknownEntry) continue;
        if (known.empty() || known.back() != raw) known.push_back(raw);
    }
}

void FillTableGapsOfKnown(std::vector<int32_t>& table, const std::vector<int32_t>& known) {
    const int32_t knownCount = static_cast<int32_t>(known.size());
    if (knownCount == 0) return;
    bool knownNotNegative = true;
    for (int32_t b : known) knownNotNegative = knownNotNegative && table[b] >= 0;

    int32_t stepwiseFrom = 0;
    if (knownNotNegative) {
        // Below the last known entry every filled value lies between known
        // values or between 0 and the first one, so no filled entry becomes
        // unknown again and each gap follows from its ends.
        if (known[0] > 0) table[0] = StepTowards(0, table[known[0]], known[0]);
        if (known[0] > 1) FillBetweenKnownEntries(table, 0, known[0]);
        for (int32_t i = 0; i + 1 < knownCount; ++i) FillBetweenKnownEntries(table, known[i], known[i + 1]);
        stepwiseFrom = known[knownCount - 1] + 1;
    }

    // One entry at a time in increasing order; prev is the last entry that is
    // not unknown, counting entries filled on the way.
    int32_t prev = stepwiseFrom - 1;
    while (prev >= 0 && table[prev] == kUnknownEntry) --prev;
    int32_t nextIndex = 0;
    for (int32_t b = stepwiseFrom; b < kTableSize; ++b) {
        while (nextIndex < knownCount && known[nextIndex] <= b) ++nextIndex;
        if (table[b] == kUnknownEntry) {
            const int32_t next = nextIndex < knownCount ? known[nextIndex] : -1;
            if (next >= 0 && prev < 0) {
                table[b] = StepTowards(0, table[next], next);
            } else if (next >= 0) {
                table[b] = StepTowards(table[prev], table[next] - table[prev], next - prev);
            } else {
                // Near the bottom of the table the slope spans only the
                // entries that exist.
                const int32_t span = std::min(kExtrapolationSpan, prev);
                table[b] = span == 0 ? table[prev] : StepTowards(table[prev], table[prev] - table[prev - span], span);
            }
        }
        // A filled entry that came out as kUnknownEntry does not count as known.
        if (table[b] != kUnknownEntry) prev = b;
    }
}

}  // namespace ffc
