#include "calib/lowhigh/fit_range.h"

#include <algorithm>
#include <cmath>

#include "fit/order_statistics.h"

namespace ffc {

namespace {

// A run of equal-sign deviations: its sign, length and most extreme deviation.
struct SignRun {
    int32_t sign = 0;
    int32_t length = 0;
    float extreme = 0.0f;
};

// Consecutive deviations of equal sign (a deviation of 0 counts as negative).
std::vector<SignRun> CutIntoSignRuns(const std::vector<float>& deviations) {
    std::vector<SignRun> runs;
    for (float deviation : deviations) {
        const int32_t sign = deviation > 0.0f ? 1 : -1;
        if (runs.empty() || runs.back().sign != sign) {
            runs.push_back({sign, 1, deviation});
            continue;
        }
        SignRun& run = runs.back();
        ++run.length;
        run.extreme = sign > 0 ? std::max(run.extreme, deviation) : std::min(run.extreme, deviation);
    }
    return runs;
}

// Peak-to-trough heights of the closed pairs of long runs: a run of the
// group's first sign opens a pair, the next long run of the other sign closes
// it; long runs repeating the last sign are skipped, short runs ignored.
std::vector<float> PairPeaks(const std::vector<SignRun>& runs) {
    constexpr int32_t kShortestCountedRun = 3;
    int32_t firstSign = 0;
    int32_t lastSign = 0;
    std::vector<float> peaks;
    bool lastPairOpen = false;
    for (const SignRun& run : runs) {
        if (run.length < kShortestCountedRun || run.sign == lastSign) continue;
        if (lastSign == 0 || run.sign == firstSign) {
            if (lastSign == 0) firstSign = run.sign;
            peaks.push_back(run.extreme);
            lastPairOpen = true;
        } else {
            peaks.back() = std::fabs(peaks.back() - run.extreme);
            lastPairOpen = false;
        }
        lastSign = run.sign;
    }
    // A pair still open after the final run has no trough; it does not count.
    if (lastPairOpen) peaks.pop_back();
    return peaks;
}

// Whether the ripple is unmeasured, with the tolerance of a float compared
// against -1 in double.
bool IsUnmeasured(float ripple) {
    return std::fabs(static_cast<double>(ripple) + 1.0) < 0.0001;
}

// The first image where fewer than a tenth of the groups are unmeasured;
// image 0 when there is none.
size_t ChooseLowImage(const std::vector<std::vector<float>>& groupRipples, size_t groupCount) {
    for (size_t i = 0; i < groupRipples.size(); ++i) {
        size_t unmeasured = 0;
        for (float ripple : groupRipples[i]) unmeasured += IsUnmeasured(ripple) ? 1 : 0;
        if (static_cast<double>(unmeasured) < 0.1 * static_cast<double>(groupCount)) return i;
    }
    return 0;
}

}  // namespace

float MeasureGroupRipple(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    const size_t n = group.size();
    const double lowerEdge = 0.2 * static_cast<double>(n);
    const double upperEdge = 0.8 * static_cast<double>(n);
    std::vector<float> middleValues;
    middleValues.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        const double position = static_cast<double>(k);
        if (position > lowerEdge && position < upperEdge) middleValues.push_back(profile[group[k]]);
    }
    float sum = 0.0f;
    for (float value : middleValues) sum += value;
    // The divisor is three fifths of the whole group, not the middle count.
    const float mean = static_cast<float>(static_cast<double>(sum) / (0.6 * static_cast<double>(n)));

    std::vector<float> deviations;
    deviations.reserve(middleValues.size());
    for (float value : middleValues) deviations.push_back(value - mean);

    const std::vector<float> peaks = PairPeaks(CutIntoSignRuns(deviations));
    if (peaks.size() <= middleValues.size() / 20) return kUnmeasuredRipple;
    float peakSum = 0.0f;
    for (float peak : peaks) peakSum += peak;
    return peakSum / static_cast<float>(peaks.size());
}

std::vector<float> MovingAverage3(const std::vector<float>& values) {
    const size_t m = values.size();
    std::vector<float> smoothed(m);
    for (size_t i = 0; i < m; ++i) {
        const size_t first = i == 0 ? 0 : i - 1;
        const size_t last = std::min(i + 1, m - 1);
        float sum = 0.0f;
        for (size_t j = first; j <= last; ++j) sum += values[j];
        smoothed[i] = sum / static_cast<float>(last - first + 1);
    }
    return smoothed;
}

std::vector<float> Differences(const std::vector<float>& values) {
    std::vector<float> differences;
    for (size_t i = 0; i + 1 < values.size(); ++i) differences.push_back(values[i + 1] - values[i]);
    return differences;
}

int32_t FindSustainedDrop(const std::vector<float>& smoothed, const std::vector<float>& differences) {
    constexpr size_t kFallingStepsAfterPeak = 4;
    const size_t count = differences.size();
    for (size_t i = 0; i < count; ++i) {
        if (!(differences[i] < 0.0f)) continue;
        if (i > 0 && !(differences[i - 1] >= 0.0f)) continue;
        bool sustained = true;
        for (size_t j = i + 1; j <= i + kFallingStepsAfterPeak && j < count; ++j) {
            if (!(differences[j] < 0.0f)) {
                sustained = false;
                break;
            }
        }
        if (sustained) return static_cast<int32_t>(i);
    }
    return static_cast<int32_t>(smoothed.size()) - 1;
}

FitRange ChooseFitRange(const std::vector<std::vector<float>>& profiles, const ColumnGroups& columnGroups,
                        int32_t imageWidth) {
    const size_t groupCount = columnGroups.size();
    std::vector<std::vector<float>> groupRipples(profiles.size());
    std::vector<float> imageRipples(profiles.size());
    for (size_t i = 0; i < profiles.size(); ++i) {
        groupRipples[i].reserve(groupCount);
        float sum = 0.0f;
        for (const std::vector<int32_t>& group : columnGroups) {
            groupRipples[i].push_back(MeasureGroupRipple(profiles[i], group));
            sum += groupRipples[i].back();
        }
        // With no groups this is 0/0: no image qualifies as low, none falls.
        imageRipples[i] = sum / static_cast<float>(groupCount);
    }

    const size_t lowImage = ChooseLowImage(groupRipples, groupCount);
    const std::vector<float> smoothed = MovingAverage3(imageRipples);
    const int32_t highImage = FindSustainedDrop(smoothed, Differences(smoothed));

    const int32_t half = imageWidth / 2;
    FitRange range;
    range.lowBound = std::min(35.0f, KthLargest(profiles[lowImage], half));
    range.highBound = std::max(180.0f, KthSmallest(profiles[highImage], half));
    return range;
}

}  // namespace ffc
