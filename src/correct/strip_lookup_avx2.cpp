// The strip lookup with AVX2, for processors without AVX-512 VBMI.
#include "correct/strip_lookup_kernels.h"

#ifdef FFC_HAVE_X86_SIMD

#include <algorithm>

#include <immintrin.h>

namespace ffc {

namespace {

// Without VBMI a byte shuffle looks up only 16 entries, so a column's table
// is taken as 16 pieces of 16 values. A shuffle gives zero where the index
// byte's top bit is set; subtracting 16 per piece, with signed saturation,
// sets it exactly where the value lies below the piece. So after a first
// piece taken as it is, each piece is stored XORed with the one before, and
// the XOR of the shuffles leaves each value's own entry. A chain covers eight
// pieces before the subtraction would wrap; a second starts over from the
// ninth. Camera columns span narrow bands, so each column shuffles only the
// pieces from the lowest one that the tile's values reach: usually one or
// two instead of sixteen.
//
// A tile is 64 rows of a strip, in blocks of 32 columns. After a turn inside
// each 128-bit half of each 16 rows, register j holds column j in its low
// half and column 16 + j in its high half; the four registers of a column
// pair share each piece loaded.
#define FFC_AVX2 __attribute__((target("avx2")))

constexpr int kRowGroups = 4;
constexpr int kAvx2TileRows = 16 * kRowGroups;
constexpr int kAvx2BlockColumns = 32;
constexpr int kPieces = kColumnTableSize / 16;
constexpr int kChainPieces = 8;
// A part tile costs a whole one: below this many rows the plain loop is
// faster.
constexpr int kFewestPartTileRows = 48;

// Each round moves row bit 3 into the byte index and the byte index's top bit
// into the row; four rounds turn each half, eight restore it.
FFC_AVX2 inline void TransposeHalves(__m256i* r) {
    for (int round = 0; round < 4; ++round) {
        __m256i t[16];
        for (int i = 0; i < 8; ++i) {
            t[2 * i] = _mm256_unpacklo_epi8(r[i], r[i + 8]);
            t[2 * i + 1] = _mm256_unpackhi_epi8(r[i], r[i + 8]);
        }
        for (int i = 0; i < 16; ++i) r[i] = t[i];
    }
}

// steps[16 * c + k] holds piece k XOR piece k - 1 of column c.
FFC_AVX2 void PrepareSteps(const uint8_t* tables, int columns, __m128i* steps) {
    for (int c = 0; c < columns; ++c) {
        const __m128i* pieces = reinterpret_cast<const __m128i*>(tables + c * kColumnTableSize);
        for (int k = 1; k < kPieces; ++k) {
            steps[c * kPieces + k] = _mm_xor_si128(_mm_loadu_si128(pieces + k), _mm_loadu_si128(pieces + k - 1));
        }
    }
}

// Pieces first .. first + count - 1 of each column of a pair, its own first
// in each half, which hold every value of the pair's registers raw[16 * g].
FFC_AVX2 inline void LookUpColumnPair(const __m128i* lowTable, const __m128i* highTable, const __m128i* lowSteps,
                                      const __m128i* highSteps, int lowFirst, int highFirst, int count,
                                      __m256i* raw) {
    const __m256i sixteen = _mm256_set1_epi8(16);
    __m256i result[kRowGroups];
    for (int g = 0; g < kRowGroups; ++g) result[g] = _mm256_setzero_si256();
    for (int start = 0; start < count; start += kChainPieces) {
        const __m256i base = _mm256_setr_m128i(_mm_set1_epi8(static_cast<char>(16 * (lowFirst + start))),
                                               _mm_set1_epi8(static_cast<char>(16 * (highFirst + start))));
        const __m256i piece = _mm256_loadu2_m128i(highTable + highFirst + start, lowTable + lowFirst + start);
        __m256i index[kRowGroups];
        for (int g = 0; g < kRowGroups; ++g) {
            index[g] = _mm256_sub_epi8(raw[16 * g], base);
            result[g] = _mm256_xor_si256(result[g], _mm256_shuffle_epi8(piece, index[g]));
        }
        const int end = std::min(start + kChainPieces, count);
        for (int k = start + 1; k < end; ++k) {
            const __m256i step = _mm256_loadu2_m128i(highSteps + highFirst + k, lowSteps + lowFirst + k);
            for (int g = 0; g < kRowGroups; ++g) {
                index[g] = _mm256_subs_epi8(index[g], sixteen);
                result[g] = _mm256_xor_si256(result[g], _mm256_shuffle_epi8(step, index[g]));
            }
        }
    }
    for (int g = 0; g < kRowGroups; ++g) raw[16 * g] = result[g];
}

// One block of 32 columns of a tile, its rows in tile[i], each column's
// lowest and highest value in `lowest` and `highest`. All columns shuffle as
// many pieces as the widest band needs, so that the loops' lengths change
// once per tile, not once per column.
FFC_AVX2 void LookUpBlock(const uint8_t* tables, const __m128i* steps, __m256i lowest, __m256i highest,
                          __m256i* tile) {
    alignas(32) uint8_t firstPiece[kAvx2BlockColumns];
    alignas(32) uint8_t lastPiece[kAvx2BlockColumns];
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    _mm256_store_si256(reinterpret_cast<__m256i*>(firstPiece),
                       _mm256_and_si256(_mm256_srli_epi16(lowest, 4), nibble));
    _mm256_store_si256(reinterpret_cast<__m256i*>(lastPiece),
                       _mm256_and_si256(_mm256_srli_epi16(highest, 4), nibble));
    int count = 1;
    for (int c = 0; c < kAvx2BlockColumns; ++c) count = std::max(count, lastPiece[c] - firstPiece[c] + 1);
    // A narrow band near the top starts lower, so as not to run past the
    // table with the count of a wider one.
    for (int c = 0; c < kAvx2BlockColumns; ++c) firstPiece[c] = std::min<int>(firstPiece[c], kPieces - count);
    for (int g = 0; g < kRowGroups; ++g) TransposeHalves(tile + 16 * g);
    const __m128i* pieces = reinterpret_cast<const __m128i*>(tables);
    for (int j = 0; j < 16; ++j) {
        const int high = j + 16;
        LookUpColumnPair(pieces + j * kPieces, pieces + high * kPieces, steps + j * kPieces, steps + high * kPieces,
                         firstPiece[j], firstPiece[high], count, tile + j);
    }
    for (int g = 0; g < kRowGroups; ++g) TransposeHalves(tile + 16 * g);
}

// The rows of a tile are read and written whole, one after the other. A part
// tile of `rows` rows repeats its first row in the others, which widens no
// column's band, and writes only its own.
FFC_AVX2 void LookUpTileAvx2(const uint8_t* tables, const __m128i* steps, int blocks, const uint8_t* in,
                             size_t inStep, uint8_t* out, size_t outStep, bool stream, int rows = kAvx2TileRows) {
    __m256i tile[2][kAvx2TileRows];
    __m256i lowest[2] = {_mm256_set1_epi8(-1), _mm256_set1_epi8(-1)};
    __m256i highest[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
    for (int i = 0; i < kAvx2TileRows; ++i) {
        const uint8_t* row = in + (i < rows ? i : 0) * inStep;
        for (int b = 0; b < blocks; ++b) {
            tile[b][i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 32 * b));
            lowest[b] = _mm256_min_epu8(lowest[b], tile[b][i]);
            highest[b] = _mm256_max_epu8(highest[b], tile[b][i]);
        }
    }
    for (int b = 0; b < blocks; ++b) {
        LookUpBlock(tables + b * kAvx2BlockColumns * kColumnTableSize, steps + b * kAvx2BlockColumns * kPieces,
                    lowest[b], highest[b], tile[b]);
    }
    for (int i = 0; i < rows; ++i) {
        for (int b = 0; b < blocks; ++b) {
            __m256i* target = reinterpret_cast<__m256i*>(out + i * outStep + 32 * b);
            if (stream) {
                _mm256_stream_si256(target, tile[b][i]);
            } else {
                _mm256_storeu_si256(target, tile[b][i]);
            }
        }
    }
}

// Whole tiles of whole 32-column blocks, then a part tile of the rows left
// when they are enough to repay it; the other rows and columns take the plain
// loop. Rows whole cache lines apart are written past the cache, as in the
// VBMI version.
FFC_AVX2 void LookUpStripWithAvx2(const uint8_t* tables, const StripRows& strip) {
    const int blocks = strip.columns / kAvx2BlockColumns;
    const int wholeRows = blocks > 0 ? strip.rows / kAvx2TileRows * kAvx2TileRows : 0;
    const int partRows = blocks > 0 ? strip.rows - wholeRows : 0;
    const int tiledRows = partRows >= kFewestPartTileRows ? strip.rows : wholeRows;
    if (tiledRows > 0) {
        __m128i steps[kStripColumns * kPieces];
        PrepareSteps(tables, blocks * kAvx2BlockColumns, steps);
        const bool stream = blocks == 2 && (reinterpret_cast<uintptr_t>(strip.out) | strip.outStep) % 64 == 0;
        for (int r = 0; r < wholeRows; r += kAvx2TileRows) {
            LookUpTileAvx2(tables, steps, blocks, strip.in + r * strip.inStep, strip.inStep,
                           strip.out + r * strip.outStep, strip.outStep, stream);
        }
        if (tiledRows > wholeRows) {
            LookUpTileAvx2(tables, steps, blocks, strip.in + wholeRows * strip.inStep, strip.inStep,
                           strip.out + wholeRows * strip.outStep, strip.outStep, false, partRows);
        }
        _mm_sfence();
        // The plain code after this, and the caller's, would otherwise pay
        // for the upper halves left in use.
        _mm256_zeroupper();
        const int done = blocks * kAvx2BlockColumns;
        for (int r = 0; done < strip.columns && r < tiledRows; ++r) {
            LookUpRowPlain(tables + done * kColumnTableSize, strip.in + r * strip.inStep + done,
                           strip.out + r * strip.outStep + done, strip.columns - done);
        }
    }
    LookUpRowsPlain(tables, strip, tiledRows);
}

}  // namespace

// Without the target attribute, so that the declaration the dispatcher sees
// is this one function and not a version of it.
void LookUpStripAvx2(const uint8_t* tables, const StripRows& strip) { LookUpStripWithAvx2(tables, strip); }

}  // namespace ffc

#endif  // FFC_HAVE_X86_SIMD
