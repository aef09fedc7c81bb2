// The rule that gives a regular pixel its value from its column and raw value,
// and that rule tabulated: each column's 256 values, filled once per
// calibration and rule, so that every pixel is a lookup. The image is walked
// in strips of columns so that the strip's tables stay in the first-level
// cache. The tables give the bits of RegularValue.
#ifndef VYR_FFC_PREPARED_RULE_H
#define VYR_FFC_PREPARED_RULE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "correct/holes.h"
#include "correct/strip_lookup.h"
#include "fit/gray_sum.h"
#include "fit/polynomial.h"

namespace ffc {

enum class RegularValueKind {
    kPolyvalInt,          // PolyvalGrayInt of the column's coefficients
    kPolyvalFloatGained,  // PolyvalGrayFloat of the coefficients, times the gain
    kLutGained,           // the column's table value as float, times the gain
    kLutLowByte,          // the low 8 bits of the column's table value
};

bool IsPolynomial(RegularValueKind kind);

// The regular value of a pixel depends only on its column and raw value.
struct RegularValueRule {
    RegularValueKind kind = RegularValueKind::kPolyvalInt;
    const std::vector<std::vector<float>>* coefficients = nullptr;  // polynomial kinds
    const std::vector<std::vector<int32_t>>* luts = nullptr;        // table kinds
    float gain = 0.0f;                                              // gained kinds
};

// A gained gray value: clamped to 0..255 and truncated toward zero. A NaN
// product (an infinite gain times 0) gives 0.
inline int GainedGray(float gray, float gain) { return static_cast<int>(ClampToGray(gray * gain)); }

// The rule evaluated from scratch: column c, raw value p (0..255).
int RegularValue(const RegularValueRule& rule, int column, int raw);

// How the column tables are filled: entry by entry, or four entries at a
// time with SSE2 (every x86-64 has it). Both give the same entries.
enum class TableFill { kPlain, kSse2 };

constexpr TableFill kTableFills[] = {TableFill::kPlain, TableFill::kSse2};

// Whether this build has `fill`.
bool TableFillRuns(TableFill fill);

struct PreparedRule {
    RegularValueRule rule;
    int width = 0;
    const GrayPowerTable* powers = nullptr;  // polynomial kinds
    // The table kinds' column tables, one pointer per column.
    std::vector<const int32_t*> lutColumns;
    // How FillColumnTables fills; PrepareRule picks the fastest that runs.
    TableFill fill = TableFill::kPlain;
    // Every column's 256 regular values, column after column, 64-byte
    // aligned (FillColumnTables), and the strip lookup that reads them.
    const uint8_t* columnTables = nullptr;
    LookupPath lookup = LookupPath::kPlain;

    // The regular value of column c at raw value p.
    uint8_t Evaluate(int column, int raw) const;
    // The regular values of columns begin..end-1 of one row.
    void WriteRow(const uint8_t* in, uint8_t* out, int begin, int end) const;
    // The regular values of a column for raw values first..last, into
    // table[first..last]; a few entries beside them may be written too.
    void FillColumnTable(int column, int first, int last, uint8_t* table) const;
};

// The rule prepared for images `width` columns wide, with the fastest table
// fill that runs here and without tables yet.
PreparedRule PrepareRule(const RegularValueRule& rule, int width);

// Bytes of the tables of an image `width` columns wide.
size_t ColumnTablesSize(int width);

// Fills the ColumnTablesSize(prepared.width) bytes at `tables` (64-byte
// aligned) with every column's 256 regular values.
void FillColumnTables(const PreparedRule& prepared, uint8_t* tables);

// Writes the regular value of every pixel of rows [0, rowEnd) through the
// column tables, which `prepared` must hold. With `holeColumns`, also lists
// the pixels that are holes; they are written too, so a caller that must
// leave them untouched restores `before`.
void WriteRegularValues(const PreparedRule& prepared, const cv::Mat& input, cv::Mat& output, int rowEnd,
                        const HoleColumns* holeColumns = nullptr, std::vector<Hole>* holes = nullptr);

// Every pixel gets its regular value (modes 0 and 1).
void ApplyPolyvalInt(const PreparedRule& prepared, const cv::Mat& input, cv::Mat& output);

}  // namespace ffc

#endif  // VYR_FFC_PREPARED_RULE_H
