// One column's results read from an instance, whatever the lengths of its
// lists: a column beyond a list reads as unflagged or with an empty list, as
// the results of another run or another width may leave them.
#ifndef VYR_FFC_COLUMN_READERS_H
#define VYR_FFC_COLUMN_READERS_H

#include <cstdint>
#include <vector>

#include "instance/instance.h"

namespace ffc {

// Whether the column's flag is -1: a spread dark response, so its raw 0 is a
// dark pixel in the correction. Inline: every correction in a dark mode asks
// it of every column.
inline bool ColumnIsFlagged(const FlatFieldCorrectionInstance& instance, int column) {
    return static_cast<size_t>(column) < instance.columnFlags.size() && instance.columnFlags[column] == -1;
}

// The column's dark range list.
const std::vector<int32_t>& DarkRangesOf(const FlatFieldCorrectionInstance& instance, int column);

// Whether the column is flagged and holds a dark range of at least two values:
// what the accessors report as a flagged column with its range.
bool ColumnHasDarkRange(const FlatFieldCorrectionInstance& instance, int column);

// The candidate list for a column's hole value.
const std::vector<int32_t>& HoleCandidatesOf(const FlatFieldCorrectionInstance& instance, int column,
                                             int holeRaw);

}  // namespace ffc

#endif  // VYR_FFC_COLUMN_READERS_H
