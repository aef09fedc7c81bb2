// The two choices of a fill: the value a dark pixel takes from its range, and
// the candidate a hole takes.
#ifndef VYR_FFC_FILL_CHOICES_H
#define VYR_FFC_FILL_CHOICES_H

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace ffc {

// The two lists a fill can find empty. To the host of the exported functions
// both are std::invalid_argument("Vector is empty"); the C++ interface tells
// them apart by type.
class EmptyListError : public std::invalid_argument {
public:
    EmptyListError() : std::invalid_argument("Vector is empty") {}
};
class NoHoleCandidateError : public EmptyListError {};
class NoDarkRangeError : public EmptyListError {};

// The candidate nearest to the target (the earliest of equally near ones).
// Throws NoHoleCandidateError for an empty list.
int32_t FindClosestValue(const std::vector<int32_t>& candidates, int target);

// The running value clamped into a dark column's range: two values are one
// range (low, high); a list of four is two ranges, and the one whose near end
// is closer to the running value (the second on a tie) is taken. A single
// value is the range (v, v); of three values the first two are the only range.
// Throws NoDarkRangeError for an empty list.
int ClampToDarkRange(const std::vector<int32_t>& ranges, int running);

}  // namespace ffc

#endif  // VYR_FFC_FILL_CHOICES_H
