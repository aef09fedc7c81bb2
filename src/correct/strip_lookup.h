// The lookup at the heart of the correction: every pixel of a strip of
// columns replaced by its column's table entry. It is integer work only, so
// besides the plain loop it has SIMD versions, one per instruction set; every
// version gives the same bytes. The correction takes the one ChosenLookupPath
// names; the tests name each in turn.
#ifndef VYR_FFC_STRIP_LOOKUP_H
#define VYR_FFC_STRIP_LOOKUP_H

#include <cstddef>
#include <cstdint>

namespace ffc {

// Columns per strip: 64 tables of 256 bytes fill 16 KB, half the first-level
// cache, and a strip's row segment is one whole cache line, so no line of the
// input or output is fetched twice.
constexpr int kStripColumns = 64;
constexpr int kColumnTableSize = 256;

// The rows of one strip: pointers to its first pixel in the first row, and
// the row steps of the two images.
struct StripRows {
    const uint8_t* in;
    size_t inStep;
    uint8_t* out;
    size_t outStep;
    int rows;
    int columns;  // 1..kStripColumns
};

enum class LookupPath {
    kPlain,       // eight pixels per load and store; the reference
    kAvx2,        // 64 x 32 tiles turned so that each register half holds one column
    kAvx512Vbmi,  // 64 x 64 tiles turned so that each register holds one column
};

constexpr LookupPath kLookupPaths[] = {LookupPath::kPlain, LookupPath::kAvx2, LookupPath::kAvx512Vbmi};

// "Plain", "Avx2", "Avx512Vbmi".
const char* LookupPathName(LookupPath path);

// Whether this build and this processor can run `path`.
bool LookupPathRuns(LookupPath path);

// The path the correction takes on this processor: of those that run, the
// one fastest on a small strip, timed once per process.
LookupPath ChosenLookupPath();

// out[r][i] = tables[i * 256 + in[r][i]] for every row r and column i of the
// strip, by `path`, which must run here. The input and output may be the same
// memory.
void LookUpStrip(LookupPath path, const uint8_t* tables, const StripRows& strip);

}  // namespace ffc

#endif  // VYR_FFC_STRIP_LOOKUP_H
