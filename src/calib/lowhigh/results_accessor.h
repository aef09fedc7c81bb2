// The copy-out shared by the accessors of both low/high runs: coefficients,
// dark-response flags and dark ranges of every column.
#ifndef VYR_FFC_LOWHIGH_RESULTS_ACCESSOR_H
#define VYR_FFC_LOWHIGH_RESULTS_ACCESSOR_H

#include <cstdint>
#include <vector>

#include "instance/instance.h"

namespace ffc {

// Replaces each non-null output with a copy of the instance's results: the
// quadratic and cubic coefficients, and per column of `quadCoeffs` the flag
// and the dark range as two bytes (low 8 bits of each level). A column counts
// as flagged only when its flag is -1 and its dark range holds at least two
// values; otherwise it reports false and an empty byte list.
void CopyOutColumnResults(const FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>>* quadCoeffs,
                          std::vector<std::vector<float>>* cubicCoeffs, std::vector<bool>* columnFlags,
                          std::vector<std::vector<uint8_t>>* columnDarkRanges);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_RESULTS_ACCESSOR_H
