// The regular values of one correction call. On tall images each column's 256
// values are tabulated once and every pixel is a lookup; the image is walked
// in strips of columns so that the strip's tables stay in the first-level
// cache. On short images, where tabulating would cost more than the pixels,
// each pixel is evaluated with the gray power table. Both give the bits of
// RegularValue.
#ifndef VYR_FFC_REGULAR_VALUES_H
#define VYR_FFC_REGULAR_VALUES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "eval/correction_plan.h"
#include "fit/polynomial.h"

namespace ffc {

struct RegularValues {
    RegularValueRule rule;
    int width = 0;
    const GrayPowerTable* powers = nullptr;  // polynomial kinds
    // The table kinds' column tables, one pointer per column.
    std::vector<const int32_t*> lutColumns;

    // The regular value of column c at raw value p.
    uint8_t Evaluate(int column, int raw) const;
    // The regular values of a column for raw values first..last, into
    // table[first..last].
    void FillColumnTable(int column, int first, int last, uint8_t* table) const;
};

RegularValues PrepareRegularValues(const RegularValueRule& rule, int width);

// Whether an image of this height repays tabulating every column.
bool WorthTabulating(int rows);

// Mode 4's holes: pixels whose raw value is their column's hole value.
struct HoleColumns {
    std::vector<uint8_t> raw;       // the hole value of each column
    std::vector<uint8_t> hasHoles;  // 1 for columns that have a hole value
};

// A hole found by the table pass, keyed column first (sorting gives the fill
// order), with the output byte it had before the pass wrote over it.
struct Hole {
    uint64_t key;
    uint8_t before;
};

inline uint64_t MakeHoleKey(int column, int row) {
    return (static_cast<uint64_t>(column) << 32) | static_cast<uint32_t>(row);
}
inline int HoleColumn(uint64_t key) { return static_cast<int>(key >> 32); }
inline int HoleRow(uint64_t key) { return static_cast<int>(key & 0xFFFFFFFFu); }

// Writes the regular value of every pixel of rows [0, rowEnd) through the
// column tables. With `holeColumns`, also lists the pixels that are holes;
// they are written too, so a caller that must leave them untouched restores
// `before`.
void WriteRegularValues(const RegularValues& values, const cv::Mat& input, cv::Mat& output, int rowEnd,
                        const HoleColumns* holeColumns = nullptr, std::vector<Hole>* holes = nullptr);

}  // namespace ffc

#endif  // VYR_FFC_REGULAR_VALUES_H
