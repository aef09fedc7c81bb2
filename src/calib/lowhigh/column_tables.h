// The column tables of the low/high runs: for every column a 256-entry table
// from raw gray to reference level and a flag for a spread dark response.
#ifndef VYR_FFC_LOWHIGH_COLUMN_TABLES_H
#define VYR_FFC_LOWHIGH_COLUMN_TABLES_H

#include <cstdint>
#include <vector>

namespace ffc {

// Entries of a mapping table, one per raw gray value.
constexpr int32_t kTableSize = 256;

// A table entry that no selected image determines (yet).
constexpr int32_t kUnknownEntry = -1;

// What one selected image shows in one column: the truncated profile value
// (raw gray) and the truncated float level of the image.
struct ColumnSample {
    int32_t raw = 0;
    int32_t level = 0;
};

// A column is flagged when the levels seen at raw 0 spread over more than 5;
// the dark range is then the lowest and highest of them.
struct DarkResponse {
    bool flagged = false;
    int32_t lowest = 0;
    int32_t highest = 0;
};

// Sets the entries of `table` (kTableSize entries, all kUnknownEntry) that the
// samples determine: per raw value the float mean of its distinct levels,
// truncated. Sorts `samples` by raw value, then level. Samples outside the
// table are ignored.
DarkResponse TabulateColumn(std::vector<ColumnSample>& samples, std::vector<int32_t>& table);

// The raw values whose entries TabulateColumn set (and not to kUnknownEntry),
// ascending, from the samples it sorted: the known entries of a table that
// was all unknown before, without scanning it. Replaces `known`.
void ListKnownEntries(const std::vector<ColumnSample>& samples, const std::vector<int32_t>& table,
                      std::vector<int32_t>& known);

// Fills the unknown entries of a table whose known entries are exactly those
// at the ascending positions `known`, in increasing order: below the first
// known entry a fraction of it, between known entries one step of the
// remaining slope at a time, above the last known entry the mean slope of the
// last five entries (of as many as exist when fewer lie below). Truncates
// toward zero throughout. Without known entries the table stays unknown.
void FillTableGapsOfKnown(std::vector<int32_t>& table, const std::vector<int32_t>& known);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_COLUMN_TABLES_H
