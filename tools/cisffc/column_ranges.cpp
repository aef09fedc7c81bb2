#include "column_ranges.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "tool_error.h"

namespace cisffc {
namespace {

int32_t ParseColumn(const std::string& text, const std::string& optionName) {
    const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    errno = 0;
    const long value = digitsOnly ? std::strtol(text.c_str(), nullptr, 10) : -1;
    if (!digitsOnly || errno == ERANGE) {
        FailUsage(optionName + ": \"" + text + "\" is not a column number");
    }
    if (value >= kMaxColumns) {
        FailUsage(optionName + ": column " + text + " lies beyond any sensor line (at most " +
                  std::to_string(kMaxColumns) + " columns)");
    }
    return static_cast<int32_t>(value);
}

}  // namespace

std::vector<ColumnRange> ParseColumnRanges(const std::string& text, const std::string& optionName) {
    std::vector<ColumnRange> ranges;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        const auto dash = item.find('-');
        ColumnRange range;
        if (dash == std::string::npos) {
            range.first = range.last = ParseColumn(item, optionName);
        } else {
            range.first = ParseColumn(item.substr(0, dash), optionName);
            range.last = ParseColumn(item.substr(dash + 1), optionName);
            if (range.last < range.first) {
                FailUsage(optionName + ": range \"" + item + "\" runs backwards");
            }
        }
        ranges.push_back(range);
    }
    int64_t total = 0;
    for (const ColumnRange& range : ranges) total += int64_t{range.last} - range.first + 1;
    if (total > kMaxColumns) {
        FailUsage(optionName + ": " + std::to_string(total) + " columns in all, more than any sensor line has");
    }
    if (ranges.empty() || text.back() == ',') {
        FailUsage(optionName + ": expected ranges like 100-200,300, got \"" + text + "\"");
    }
    return ranges;
}

std::vector<int32_t> ExpandRanges(const std::vector<ColumnRange>& ranges) {
    std::vector<int32_t> columns;
    for (const ColumnRange& range : ranges) {
        for (int64_t c = range.first; c <= range.last; ++c) {
            columns.push_back(static_cast<int32_t>(c));
        }
    }
    return columns;
}

std::string FormatColumns(const std::vector<int32_t>& columns) {
    std::string text;
    for (size_t i = 0; i < columns.size();) {
        size_t j = i;
        while (j + 1 < columns.size() && columns[j + 1] == columns[j] + 1) {
            ++j;
        }
        text += (text.empty() ? "" : ",") + std::to_string(columns[i]);
        if (j > i) {
            text += "-" + std::to_string(columns[j]);
        }
        i = j + 1;
    }
    return text;
}

}  // namespace cisffc
