// The strip lookup with AVX-512 VBMI, whose byte permutes look up 128 table
// entries at once.
#include "correct/strip_lookup_kernels.h"

#ifdef FFC_HAVE_X86_SIMD

#include <cstdint>

#include <immintrin.h>

namespace ffc {

namespace {

// A register holds 64 pixels of one row, but a byte permute looks every lane
// up in the same table. So a tile of 64 rows of the strip is turned into 64
// registers of one column each, looked up with two two-register permutes
// (entries 0..127 and 128..255) picked by each byte's top bit, and turned
// back. The turn is three steps, each its own inverse: an 8 x 8 transpose of
// 64-bit words across registers, an 8 x 8 byte transpose inside each
// register, and the word transpose again.
#define FFC_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

constexpr int kTileRows = 64;
constexpr int kFewestPartTileRows = 8;

// r[i] word j becomes r[j] word i.
FFC_VBMI inline void TransposeWords(__m512i* r) {
    __m512i t[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm512_unpacklo_epi64(r[i], r[i + 1]);
        t[i + 1] = _mm512_unpackhi_epi64(r[i], r[i + 1]);
    }
    const __m512i evenPairs = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i oddPairs = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    __m512i u[8];
    for (int half = 0; half < 8; half += 4) {
        for (int k = 0; k < 2; ++k) {
            u[half + k] = _mm512_permutex2var_epi64(t[half + k], evenPairs, t[half + 2 + k]);
            u[half + 2 + k] = _mm512_permutex2var_epi64(t[half + k], oddPairs, t[half + 2 + k]);
        }
    }
    for (int k = 0; k < 4; ++k) {
        r[k] = _mm512_shuffle_i64x2(u[k], u[4 + k], 0x44);
        r[k + 4] = _mm512_shuffle_i64x2(u[k], u[4 + k], 0xEE);
    }
}

// Byte b of word a becomes byte a of word b.
FFC_VBMI inline __m512i TransposeBytes(__m512i x) {
    alignas(64) static const uint8_t kOrder[64] = {
        0, 8,  16, 24, 32, 40, 48, 56, 1, 9,  17, 25, 33, 41, 49, 57, 2, 10, 18, 26, 34, 42,
        50, 58, 3, 11, 19, 27, 35, 43, 51, 59, 4, 12, 20, 28, 36, 44, 52, 60, 5, 13, 21, 29,
        37, 45, 53, 61, 6, 14, 22, 30, 38, 46, 54, 62, 7, 15, 23, 31, 39, 47, 55, 63};
    return _mm512_permutexvar_epi8(_mm512_load_si512(kOrder), x);
}

FFC_VBMI inline __m512i LookUpColumn(const uint8_t* table, __m512i raw) {
    const __m512i low = _mm512_permutex2var_epi8(_mm512_load_si512(table), raw, _mm512_load_si512(table + 64));
    const __m512i high =
        _mm512_permutex2var_epi8(_mm512_load_si512(table + 128), raw, _mm512_load_si512(table + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(raw), low, high);
}

// One 64 x 64 tile. tile[8 * group + block] is, after the first step, the
// 8 x 8 block of row group `group` and column group `block`, column by column.
// With `stream`, the rows are written past the cache: whole lines, which
// need not be read first.
FFC_VBMI void LookUpTileVbmi(const uint8_t* tables, const uint8_t* in, size_t inStep, uint8_t* out,
                             size_t outStep, bool stream, int rows = kTileRows) {
    __m512i tile[64];
    for (int group = 0; group < 8; ++group) {
        __m512i* r = tile + 8 * group;
        for (int i = 0; i < 8; ++i) {
            const int row = 8 * group + i;
            r[i] = row < rows ? _mm512_loadu_si512(in + row * inStep) : _mm512_setzero_si512();
        }
        TransposeWords(r);
        for (int i = 0; i < 8; ++i) r[i] = TransposeBytes(r[i]);
    }
    for (int block = 0; block < 8; ++block) {
        __m512i c[8];
        for (int group = 0; group < 8; ++group) c[group] = tile[8 * group + block];
        TransposeWords(c);
        for (int i = 0; i < 8; ++i) c[i] = LookUpColumn(tables + (8 * block + i) * kColumnTableSize, c[i]);
        TransposeWords(c);
        for (int group = 0; group < 8; ++group) tile[8 * group + block] = c[group];
    }
    for (int group = 0; group < 8; ++group) {
        __m512i* r = tile + 8 * group;
        for (int i = 0; i < 8; ++i) r[i] = TransposeBytes(r[i]);
        TransposeWords(r);
        for (int i = 0; i < 8 && 8 * group + i < rows; ++i) {
            uint8_t* row = out + (8 * group + i) * outStep;
            if (stream) {
                _mm512_stream_si512(reinterpret_cast<__m512i*>(row), r[i]);
            } else {
                _mm512_storeu_si512(row, r[i]);
            }
        }
    }
}

// Whole tiles of full strips, then a part tile; fewer rows, and strips of
// fewer columns, take the plain loop.
FFC_VBMI void LookUpStripWithVbmi(const uint8_t* tables, const StripRows& strip) {
    int r = 0;
    if (strip.columns == kStripColumns) {
        const bool stream = (reinterpret_cast<uintptr_t>(strip.out) | strip.outStep) % 64 == 0;
        for (; r + kTileRows <= strip.rows; r += kTileRows) {
            LookUpTileVbmi(tables, strip.in + r * strip.inStep, strip.inStep, strip.out + r * strip.outStep,
                           strip.outStep, stream);
        }
        _mm_sfence();
        // A part tile, its missing rows taken as zeros and not written, still
        // costs less than the plain loop from a few rows on: a line camera's
        // chunks are often only 16 rows.
        if (strip.rows - r >= kFewestPartTileRows) {
            LookUpTileVbmi(tables, strip.in + r * strip.inStep, strip.inStep, strip.out + r * strip.outStep,
                           strip.outStep, false, strip.rows - r);
            r = strip.rows;
        }
    }
    LookUpRowsPlain(tables, strip, r);
}

}  // namespace

// Without the target attribute, so that the declaration the dispatcher sees
// is this one function and not a version of it.
void LookUpStripAvx512Vbmi(const uint8_t* tables, const StripRows& strip) { LookUpStripWithVbmi(tables, strip); }

}  // namespace ffc

#endif  // FFC_HAVE_X86_SIMD
