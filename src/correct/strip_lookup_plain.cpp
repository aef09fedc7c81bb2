// The plain strip lookup: the reference the SIMD versions are tested against,
// and the version for processors and strips they do not cover.
#include <cstring>

#include "correct/strip_lookup_kernels.h"

namespace ffc {

// Eight pixels are read with one load and written with one store: fewer
// memory operations, and no load of the input waits on a store to the output
// a page apart.
void LookUpRowPlain(const uint8_t* tables, const uint8_t* in, uint8_t* out, int n) {
    int i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ || defined(_M_X64)
    for (; i + 8 <= n; i += 8) {
        uint64_t raw;
        std::memcpy(&raw, in + i, 8);
        const uint8_t* t = tables + i * kColumnTableSize;
        uint64_t corrected = 0;
        for (int j = 0; j < 8; ++j) {
            corrected |= uint64_t{t[j * kColumnTableSize + ((raw >> (8 * j)) & 0xFF)]} << (8 * j);
        }
        std::memcpy(out + i, &corrected, 8);
    }
#endif
    for (; i < n; ++i) out[i] = tables[i * kColumnTableSize + in[i]];
}

void LookUpRowsPlain(const uint8_t* tables, const StripRows& strip, int firstRow) {
    for (int r = firstRow; r < strip.rows; ++r) {
        LookUpRowPlain(tables, strip.in + r * strip.inStep, strip.out + r * strip.outStep, strip.columns);
    }
}

}  // namespace ffc
