// The gray range a low/high run fits in: what each generation's run chooses
// (current_fit_range.h, previous_fit_range.h) and reports.
#ifndef VYR_FFC_LOWHIGH_FIT_RANGE_H
#define VYR_FFC_LOWHIGH_FIT_RANGE_H

namespace ffc {

// Exclusive bounds of the raw gray values that enter the per-column fits.
struct FitRange {
    float lowBound = 0.0f;
    float highBound = 0.0f;
};

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_FIT_RANGE_H
