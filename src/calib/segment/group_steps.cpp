#include "calib/segment/group_steps.h"

#include <algorithm>

namespace ffc {

namespace {

// A step between consecutive members beyond this many gray levels, either
// way, marks the group.
constexpr float kStepLimit = 2.0f;

// Whether the group's central half holds a step above kStepLimit or below
// -kStepLimit. Needs at least kMinGroupSize members.
bool GroupIsStepped(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    const size_t n = group.size();
    const double first = 0.25 * static_cast<double>(n);
    const double last = 0.75 * static_cast<double>(n);
    bool anyStep = false;
    float largest = 0.0f;
    float smallest = 0.0f;
    for (size_t j = 0; j < n; ++j) {
        const double position = static_cast<double>(j);
        if (!(position > first && position < last)) continue;
        const float step = profile[group[j + 1]] - profile[group[j]];
        largest = anyStep ? std::max(largest, step) : step;
        smallest = anyStep ? std::min(smallest, step) : step;
        anyStep = true;
    }
    return largest > kStepLimit || smallest < -kStepLimit;
}

}  // namespace

GroupMark GroupStepMark(const std::vector<float>& profile, const std::vector<int32_t>& group) {
    if (group.size() < kMinGroupSize) return GroupMark::kSkipped;
    return GroupIsStepped(profile, group) ? GroupMark::kMarked : GroupMark::kUnmarked;
}

}  // namespace ffc
