// Peak memory of one piece of work, measured in a forked child so that the
// high-water mark of resident memory belongs to that work alone.
#ifndef FFC_BENCH_CHILD_MEASURE_H
#define FFC_BENCH_CHILD_MEASURE_H

#include <cstdint>
#include <functional>

namespace ffc::bench {

struct ChildMeasurement {
    bool ok = false;        // the child ran to its end and the work succeeded
    int64_t peakBytes = 0;  // peak resident memory above the mark's start
};

// Runs `measure` in a forked child and hands back what it returns; not ok
// when the child fails.
ChildMeasurement RunInChild(const std::function<ChildMeasurement()>& measure);

// In the child: gives free heap memory back to the system, then restarts the
// high-water mark from the present resident size, which it returns (-1 when
// the system cannot reset the mark).
int64_t StartMemoryMark();

// The high-water mark above `start`.
int64_t PeakAboveMark(int64_t start);

}  // namespace ffc::bench

#endif  // FFC_BENCH_CHILD_MEASURE_H
