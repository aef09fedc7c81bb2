#include "correct/fill_choices.h"

#include <cstdlib>

namespace ffc {

namespace {

// Distances in 64 bits, so that lists holding extreme values cannot overflow.
int64_t Distance(int64_t a, int64_t b) {
    return a > b ? a - b : b - a;
}

int ClampInto(int running, int32_t low, int32_t high) {
    if (running < low) return low;
    if (running > high) return high;
    return running;
}

}  // namespace

int32_t FindClosestValue(const std::vector<int32_t>& candidates, int target) {
    if (candidates.empty()) throw NoHoleCandidateError();
    int32_t best = candidates[0];
    int64_t bestDistance = Distance(best, target);
    for (size_t i = 1; i < candidates.size(); ++i) {
        const int64_t distance = Distance(candidates[i], target);
        if (distance < bestDistance) {
            best = candidates[i];
            bestDistance = distance;
        }
    }
    return best;
}

int ClampToDarkRange(const std::vector<int32_t>& ranges, int running) {
    switch (ranges.size()) {
        case 0:
            throw NoDarkRangeError();
        case 1:
            return ClampInto(running, ranges[0], ranges[0]);
        case 2:
        case 3:
            return ClampInto(running, ranges[0], ranges[1]);
        default:
            break;
    }
    if (Distance(running, ranges[1]) < Distance(running, ranges[2])) return ClampInto(running, ranges[0], ranges[1]);
    return ClampInto(running, ranges[2], ranges[3]);
}

}  // namespace ffc
