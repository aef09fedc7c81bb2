#include "calib/lowhigh/group_ripple.h"

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

// The top level of this rank (0-based) gives the bright candidate.
constexpr int kBrightCandidateRank = 100;

constexpr float kBrightCandidateMargin = 30.0f;

}  // namespace

bool TestGroupRipple(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    const size_t n = group.size();
    float sum = 0.0f;
    for (int32_t column : group) sum += profile[column];
    const float mean = sum / static_cast<float>(n);

    const double lowerEdge = 0.25 * static_cast<double>(n);
    const double upperEdge = 0.75 * static_cast<double>(n);
    std::vector<int32_t> signs;
    for (size_t k = 0; k < n; ++k) {
        const double position = static_cast<double>(k);
        if (!(position > lowerEdge && upperEdge > position)) continue;
        // A deviation of 0 (or NaN) counts as negative.
        signs.push_back(profile[group[k]] - mean > 0.0f ? 1 : -1);
    }
    if (signs.empty()) return false;

    std::vector<RunPair> pairs;
    for (size_t t = 0; t < signs.size(); ++t) {
        const bool firstSign = signs[t] == signs[0];
        if (t == 0 || (firstSign && signs[t] != signs[t - 1])) {
            pairs.push_back({1, 0});
        } else if (firstSign) {
            ++pairs.back().firstLength;
        } else {
            ++pairs.back().secondLength;
        }
    }
    size_t goodPairs = 0;
    for (const RunPair& pair : pairs) {
        if (pair.firstLength >= kShortestRippleRun && pair.secondLength >= kShortestRippleRun) ++goodPairs;
    }
    return goodPairs > signs.size() / 50;
}

ImageMarks MarkGroupRipple(const std::vector<float>& profile, const ColumnGroups& columnGroups, int32_t imageWidth) {
    ImageMarks marks(imageWidth);
    for (const std::vector<int32_t>& group : columnGroups) {
        const bool rippled = TestGroupRipple(profile, group);
        for (int32_t column : group) marks[column] = {profile[column], rippled};
    }
    return marks;
}

float FindBrightCandidate(const std::vector<std::vector<float>>& profiles, const std::vector<float>& levels,
                          const ColumnGroups& columnGroups, int32_t imageWidth) {
    std::vector<ImageMarks> marks;
    marks.reserve(profiles.size());
    for (const std::vector<float>& profile : profiles) marks.push_back(MarkGroupRipple(profile, columnGroups, imageWidth));
    const std::vector<float> topLevels = FindTopLevels(marks, levels, imageWidth);
    return KthSmallest(topLevels, kBrightCandidateRank) - kBrightCandidateMargin;
}

float HighBoundFromBrightCandidate(float brightCandidate) {
    if (brightCandidate < 200.0f || brightCandidate > 180.0f) return 180.0f;
    return brightCandidate;
}

}  // namespace ffc
