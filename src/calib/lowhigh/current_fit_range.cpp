#include "calib/lowhigh/current_fit_range.h"

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

// Pairs long runs as they end: a run of the group's first sign opens a pair,
// the next long run of the other sign closes it with the peak-to-trough
// height; long runs repeating the last sign are skipped, short runs ignored.
// Heights are summed as pairs close, which is their order.
class PairedPeaks {
public:
    void Add(const SignRun& run) {
        constexpr int32_t kShortestCountedRun = 3;
        if (run.length < kShortestCountedRun || run.sign == lastSign_) return;
        if (lastSign_ == 0 || run.sign == firstSign_) {
            if (lastSign_ == 0) firstSign_ = run.sign;
            openPeak_ = run.extreme;
        } else {
            heightSum_ += std::fabs(openPeak_ - run.extreme);
            ++closedPairs_;
        }
        lastSign_ = run.sign;
    }
    // A pair still open after the final run has no trough; it does not count.
    size_t ClosedPairs() const { return closedPairs_; }
    float HeightSum() const { return heightSum_; }

private:
    int32_t firstSign_ = 0;
    int32_t lastSign_ = 0;
    float openPeak_ = 0.0f;
    float heightSum_ = 0.0f;
    size_t closedPairs_ = 0;
};

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
    // The middle positions form one run, since both edge tests are monotonic.
    size_t first = 0;
    while (first < n && !(static_cast<double>(first) > lowerEdge)) ++first;
    size_t end = first;
    while (end < n && static_cast<double>(end) < upperEdge) ++end;

    float sum = 0.0f;
    for (size_t k = first; k < end; ++k) sum += profile[group[k]];
    // The divisor is three fifths of the whole group, not the middle count.
    const float mean = static_cast<float>(static_cast<double>(sum) / (0.6 * static_cast<double>(n)));

    // Runs of equal-sign deviations (a deviation of 0 counts as negative),
    // each handed on as it ends.
    PairedPeaks pairs;
    SignRun run;
    for (size_t k = first; k < end; ++k) {
        const float deviation = profile[group[k]] - mean;
        const int32_t sign = deviation > 0.0f ? 1 : -1;
        if (run.length == 0 || run.sign != sign) {
            if (run.length != 0) pairs.Add(run);
            run = {sign, 1, deviation};
            continue;
        }
        ++run.length;
        run.extreme = sign > 0 ? std::max(run.extreme, deviation) : std::min(run.extreme, deviation);
    }
    if (run.length != 0) pairs.Add(run);

    if (pairs.ClosedPairs() <= (end - first) / 20) return kUnmeasuredRipple;
    return pairs.HeightSum() / static_cast<float>(pairs.ClosedPairs());
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

FitRange CurrentGenerationFitRange(const std::vector<std::vector<float>>& profiles, const ColumnGroups& columnGroups,
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
