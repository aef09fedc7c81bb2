// Time and peak memory of one piece of work, measured in a forked child so
// that every measurement starts from the same process state and the memory
// high-water mark belongs to that work alone.
#ifndef FFC_BENCH_CHILD_MEASURE_H
#define FFC_BENCH_CHILD_MEASURE_H

#include <cstdint>
#include <functional>

namespace ffc::bench {

struct ChildMeasurement {
    bool ok = false;             // the child ran to its end and `work` returned true
    double seconds = 0.0;        // wall time of `work`
    int64_t peakBytes = 0;       // peak resident memory above the resident size before `work`
};

// In a forked child: runs `prepare` (not measured), gives free heap memory
// back to the system, resets the high-water mark of resident memory, then
// times `work` and reads the mark again.
ChildMeasurement MeasureInChild(const std::function<void()>& prepare, const std::function<bool()>& work);

}  // namespace ffc::bench

#endif  // FFC_BENCH_CHILD_MEASURE_H
