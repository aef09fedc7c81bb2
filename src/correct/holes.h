// Mode 4's holes: pixels whose raw value is their column's hole value. The
// table pass lists them; the hole fill fills them.
#ifndef VYR_FFC_HOLES_H
#define VYR_FFC_HOLES_H

#include <cstdint>
#include <vector>

namespace ffc {

struct HoleColumns {
    std::vector<uint8_t> raw;       // the hole value of each column
    std::vector<uint8_t> hasHoles;  // 1 for columns that have a hole value

    bool IsHole(int column, uint8_t pixel) const { return hasHoles[column] && pixel == raw[column]; }
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

}  // namespace ffc

#endif  // VYR_FFC_HOLES_H
