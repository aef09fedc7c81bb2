// Column lists written as ranges on the command line: "100-200,300".
#ifndef CISFFC_COLUMN_RANGES_H
#define CISFFC_COLUMN_RANGES_H

#include <cstdint>
#include <string>
#include <vector>

namespace cisffc {

struct ColumnRange {
    int32_t first = 0;
    int32_t last = 0;  // inclusive
};

// Parses "a-b,c,..." (inclusive ranges, single columns); throws a usage error
// naming `optionName` on anything else, including a range that runs backwards.
std::vector<ColumnRange> ParseColumnRanges(const std::string& text, const std::string& optionName);

// Every column of the ranges, in the order written.
std::vector<int32_t> ExpandRanges(const std::vector<ColumnRange>& ranges);

// Consecutive groups of `groupWidth` columns over 0..width-1; a remainder
// shorter than half a group joins no group.
std::vector<std::vector<int32_t>> ConsecutiveGroups(int32_t width, int32_t groupWidth);

// Writes a column list back in the range notation ("0-99,150").
std::string FormatColumns(const std::vector<int32_t>& columns);

}  // namespace cisffc

#endif  // CISFFC_COLUMN_RANGES_H
