#include "calib/lowhigh/previous_fit_range.h"

#include "fit/order_statistics.h"

namespace ffc {

namespace {

// Lengths of a run of the group's first sign and of the run of the other
// sign that follows it (0 while none has).
struct RunPair {
    int32_t firstLength = 0;
    int32_t secondLength = 0;
};

// Runs shorter than this are too small to be ripple.
constexpr int32_t kShortestRippleRun = 3;

bool IsGoodPair(const RunPair& pair) {
    return pair.firstLength >= kShortestRippleRun && pair.secondLength >= kShortestRippleRun;
}

// The top level of this rank (0-based) gives the bright candidate.
constexpr int kBrightCandidateRank = 100;

constexpr float kBrightCandidateMargin = 30.0f;

}  // namespace

bool GroupIsRippled(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    const size_t n = group.size();
    float sum = 0.0f;
    for (int32_t column : group) sum += profile[column];
    const float mean = sum / static_cast<float>(n);

    // Pairs of a run of the first sign and the run of the other sign after
    // it, counted as each pair ends; the middle positions form one run,
    // since both edge tests are monotonic.
    const double lowerEdge = 0.25 * static_cast<double>(n);
    const double upperEdge = 0.75 * static_cast<double>(n);
    size_t signCount = 0;
    size_t goodPairs = 0;
    int32_t firstSign = 0;
    int32_t previousSign = 0;
    RunPair pair;
    for (size_t k = 0; k < n; ++k) {
        const double position = static_cast<double>(k);
        if (!(position > lowerEdge && upperEdge > position)) continue;
        // A deviation of 0 (or NaN) counts as negative.
        const int32_t sign = profile[group[k]] - mean > 0.0f ? 1 : -1;
        if (signCount == 0) firstSign = sign;
        if (signCount == 0 || (sign == firstSign && sign != previousSign)) {
            if (signCount != 0 && IsGoodPair(pair)) ++goodPairs;
            pair = {1, 0};
        } else if (sign == firstSign) {
            ++pair.firstLength;
        } else {
            ++pair.secondLength;
        }
        previousSign = sign;
        ++signCount;
    }
    if (signCount == 0) return false;
    if (IsGoodPair(pair)) ++goodPairs;
    return goodPairs > signCount / 50;
}

GroupMark GroupRippleMark(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    return GroupIsRippled(profile, group) ? GroupMark::kMarked : GroupMark::kUnmarked;
}

float FindBrightCandidate(const std::vector<std::vector<float>>& profiles, const std::vector<float>& levels,
                          const ColumnGroups& columnGroups, int32_t imageWidth) {
    const std::vector<float> topLevels =
        FindMarkedTopLevels(profiles, levels, columnGroups, imageWidth, GroupRippleMark);
    return KthSmallest(topLevels, kBrightCandidateRank) - kBrightCandidateMargin;
}

float HighBoundFromBrightCandidate(float brightCandidate) {
    // Every number is below 200 or above 180, so the bound is always 180 and
    // only a NaN candidate passes through: kept so, as the exported runs have
    // always computed it.
    if (brightCandidate < 200.0f || brightCandidate > 180.0f) return 180.0f;
    return brightCandidate;
}

FitRange PreviousGenerationFitRange(const SelectedImages& selected, const ColumnGroups& columnGroups,
                                    int32_t imageWidth) {
    FitRange range;
    range.lowBound = 0.0f;
    range.highBound =
        HighBoundFromBrightCandidate(FindBrightCandidate(selected.profiles, selected.levels, columnGroups, imageWidth));
    return range;
}

}  // namespace ffc
