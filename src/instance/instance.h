// The instance record: the parameters a host sets and every result a run
// leaves for the accessors and the correction tests.
#ifndef VYR_FFC_INSTANCE_H
#define VYR_FFC_INSTANCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "instance/prepared_tables.h"

// A plain record; a fresh one holds empty lists, sizes 0, gains and offsets 0
// and real gains 1. Gains and offsets are deliberately 0, not 1: only a
// current-generation run sets them. Per field: who writes it, and what its
// special values mean. "Low/high runs" are the current- and
// previous-generation runs; every run replaces what it writes.
struct FlatFieldCorrectionInstance {
    // Set by SetFlatFieldCorrectionParameters, read by every run.
    std::string imageFolder;
    std::vector<int32_t> referenceColumns;
    int32_t imageHeight = 0;
    int32_t imageWidth = 0;
    // Low/high runs: per column 256 entries, raw gray to reference level.
    std::vector<std::vector<int32_t>> columnLuts;
    // Mode 4's holes, written by no run and so empty on an instance the library
    // calibrated: every column's hole value is then 255, without candidates,
    // and a raw 255 next to a mapped pixel throws "Vector is empty".
    std::vector<int32_t> lutExactColumns;     // columns without a hole value
    std::vector<int32_t> lutDarkHoleColumns;  // columns whose hole value is 0, not 255
    std::vector<std::vector<std::vector<int32_t>>> lutHoleCandidates;  // [column][hole value]
    // Current-generation run: 1 and 0, the scale being folded into the
    // coefficients; 0 on a fresh instance, so its gained modes give 0.
    float quadGain = 0.0f;
    float quadOffset = 0.0f;
    float cubicGain = 0.0f;
    float cubicOffset = 0.0f;
    // Current-generation run: the gains folded into the coefficients; 1 fresh.
    float realQuadGain = 1.0f;
    float realCubicGain = 1.0f;
    // Low/high runs: -1 for a flagged column (spread dark response, its raw 0
    // is a dark pixel), 0 otherwise.
    std::vector<int32_t> columnFlags;
    // Low/high runs: {lowest, highest} level seen at raw 0 in a flagged column,
    // empty in the others.
    std::vector<std::vector<int32_t>> columnDarkRanges;
    // Low/high runs (scaled to the output range by the current generation) and
    // the segmented run (single fits; zeros for unlisted columns): the last run
    // wins.
    std::vector<std::vector<float>> quadCoeffs;
    std::vector<std::vector<float>> cubicCoeffs;
    // Segmented run: per column [lower piece, upper piece] and the breakpoint,
    // 256 for none.
    std::vector<std::vector<std::vector<float>>> segQuadCoeffs;
    std::vector<int32_t> segQuadBreaks;
    std::vector<std::vector<std::vector<float>>> segCubicCoeffs;
    std::vector<int32_t> segCubicBreaks;
    // Previous-generation run: 255 / the upper fit bound; 0 fresh.
    float rangeGain = 0.0f;
    // Not a result and seen by no accessor: the correction's tables, filled
    // from the results above on first use. Mutable, as a cache is: the
    // correction fills it through a const instance, and every run drops it
    // before it may replace the results (RunInputsAreValid), as
    // SetFlatFieldCorrectionParameters does.
    mutable ffc::PreparedTables preparedTables;
};

namespace ffc {

// Column groups as the runs receive them: one ordered list of column indices
// per group.
using ColumnGroups = std::vector<std::vector<int32_t>>;

// The checks every calibration run makes before it reads any image: positive
// sizes, at least one reference column, and every reference column and group
// index inside the image. A run that fails them returns false untouched.
// Also drops the correction's prepared tables, which every run must do before
// it writes results.
bool RunInputsAreValid(const FlatFieldCorrectionInstance& instance, const ColumnGroups& columnGroups);

}  // namespace ffc

#endif  // VYR_FFC_INSTANCE_H
