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

// No sensor line is this wide; larger columns are refused before any list is
// expanded.
constexpr int32_t kMaxColumns = 1 << 20;

// Parses "a-b,c,..." (inclusive ranges, single columns); throws a usage error
// naming `optionName` on anything else, including a range that runs backwards,
// a column from kMaxColumns on, or more than kMaxColumns columns in all.
std::vector<ColumnRange> ParseColumnRanges(const std::string& text, const std::string& optionName);

// Every column of the ranges, in the order written.
std::vector<int32_t> ExpandRanges(const std::vector<ColumnRange>& ranges);

// Writes a column list back in the range notation ("0-99,150").
std::string FormatColumns(const std::vector<int32_t>& columns);

}  // namespace cisffc

#endif  // CISFFC_COLUMN_RANGES_H
