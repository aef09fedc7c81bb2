#include "correct/prepared_rule.h"

#include <algorithm>
#include <cstring>

// SSE2 is part of every x86-64 processor; MSVC says so by _M_X64 alone.
#if defined(__SSE2__) || defined(_M_X64)
#define FFC_HAVE_SSE2 1
#include <emmintrin.h>
#endif

#include "correct/image_rows.h"
#include "correct/strip_lookup.h"

namespace ffc {

namespace {

// The plain fill: the entries first..last one at a time, with the
// evaluations' own operations.
template <int K, bool kIntegerSum>
void FillPolynomialColumnPlain(const PreparedRule& prepared, const float* k, int first, int last,
                               uint8_t* table) {
    const GrayPowerTable& powers = *prepared.powers;
    for (int p = first; p <= last; ++p) {
        if (kIntegerSum) {
            double sum = 0.0;
            for (int j = 0; j < K; ++j) sum = AddDoubleTerm(sum, powers[j][p], k[j]);
            table[p] = static_cast<uint8_t>(GrayOfDoubleSum(sum));
        } else {
            float sum = 0.0f;
            for (int j = 0; j < K; ++j) sum = AddFloatTerm(sum, powers[j][p], k[j]);
            table[p] = static_cast<uint8_t>(GainedGray(ClampToGray(sum), prepared.rule.gain));
        }
    }
}

void FillGainedLutColumnPlain(const int32_t* lut, float gain, uint8_t* table) {
    for (int p = 0; p < kColumnTableSize; ++p) {
        table[p] = static_cast<uint8_t>(GainedGray(static_cast<float>(lut[p]), gain));
    }
}

#ifdef FFC_HAVE_SSE2

// Four table entries at a time, with the operations of the evaluations in
// their order: the float products, their sum in double or in float, and the
// clamps as max and min, which give 0 for NaN as the selects do (the
// instructions return their second operand when one is NaN). SSE2 is part of
// the default x86-64 target, so these are the build's own instructions.
inline __m128d ClampGrayDouble(__m128d sum) {
    return _mm_min_pd(_mm_max_pd(sum, _mm_setzero_pd()), _mm_set1_pd(255.0));
}

inline __m128 ClampGrayFloats(__m128 sum) {
    return _mm_min_ps(_mm_max_ps(sum, _mm_setzero_ps()), _mm_set1_ps(255.0f));
}

// Four whole values 0..255 as four bytes at table[p].
inline void StoreGrays(__m128i values, uint8_t* table, int p) {
    const __m128i words = _mm_packs_epi32(values, values);
    const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(table + p, &bytes, 4);
}

// GainedGray of four clamped gray values.
inline void StoreGainedGrays(__m128 gray, __m128 gain, uint8_t* table, int p) {
    StoreGrays(_mm_cvttps_epi32(ClampGrayFloats(_mm_mul_ps(gray, gain))), table, p);
}

// One column's table from its K coefficients, term by term in ascending
// powers as the evaluations sum them. Whole groups of four entries are
// written, so entries next to first..last may be filled too.
template <int K, bool kIntegerSum>
void FillPolynomialColumnSse2(const PreparedRule& prepared, const float* k, int first, int last, uint8_t* table) {
    __m128 factors[K > 0 ? K : 1];
    for (int j = 0; j < K; ++j) factors[j] = _mm_set1_ps(k[j]);
    const __m128 gain = _mm_set1_ps(prepared.rule.gain);
    for (int p = first & ~3; p <= last; p += 4) {
        if (kIntegerSum) {
            __m128d low = _mm_setzero_pd();
            __m128d high = _mm_setzero_pd();
            for (int j = 0; j < K; ++j) {
                const __m128 term = _mm_mul_ps(_mm_loadu_ps(&(*prepared.powers)[j][p]), factors[j]);
                low = _mm_add_pd(low, _mm_cvtps_pd(term));
                high = _mm_add_pd(high, _mm_cvtps_pd(_mm_movehl_ps(term, term)));
            }
            const __m128i values =
                _mm_unpacklo_epi64(_mm_cvttpd_epi32(ClampGrayDouble(low)), _mm_cvttpd_epi32(ClampGrayDouble(high)));
            StoreGrays(values, table, p);
        } else {
            __m128 sum = _mm_setzero_ps();
            for (int j = 0; j < K; ++j) {
                sum = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(&(*prepared.powers)[j][p]), factors[j]), sum);
            }
            StoreGainedGrays(ClampGrayFloats(sum), gain, table, p);
        }
    }
}

// GainedGray of the column table's values, four at a time.
void FillGainedLutColumnSse2(const int32_t* lut, float gain, uint8_t* table) {
    const __m128 gains = _mm_set1_ps(gain);
    for (int p = 0; p < kColumnTableSize; p += 4) {
        const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lut + p));
        StoreGainedGrays(_mm_cvtepi32_ps(values), gains, table, p);
    }
}

#endif

template <int K, bool kIntegerSum>
void FillPolynomialColumn(const PreparedRule& prepared, const float* k, int first, int last, uint8_t* table) {
#ifdef FFC_HAVE_SSE2
    if (prepared.fill == TableFill::kSse2) {
        FillPolynomialColumnSse2<K, kIntegerSum>(prepared, k, first, last, table);
        return;
    }
#endif
    FillPolynomialColumnPlain<K, kIntegerSum>(prepared, k, first, last, table);
}

void FillGainedLutColumn(const PreparedRule& prepared, const int32_t* lut, uint8_t* table) {
#ifdef FFC_HAVE_SSE2
    if (prepared.fill == TableFill::kSse2) {
        FillGainedLutColumnSse2(lut, prepared.rule.gain, table);
        return;
    }
#endif
    FillGainedLutColumnPlain(lut, prepared.rule.gain, table);
}

template <bool kIntegerSum>
void FillPolynomialColumnOfLength(const PreparedRule& prepared, const std::vector<float>& k, int first, int last,
                                  uint8_t* table) {
    switch (k.size()) {
        case 0: FillPolynomialColumn<0, kIntegerSum>(prepared, k.data(), first, last, table); break;
        case 1: FillPolynomialColumn<1, kIntegerSum>(prepared, k.data(), first, last, table); break;
        case 2: FillPolynomialColumn<2, kIntegerSum>(prepared, k.data(), first, last, table); break;
        case 3: FillPolynomialColumn<3, kIntegerSum>(prepared, k.data(), first, last, table); break;
        default: FillPolynomialColumn<4, kIntegerSum>(prepared, k.data(), first, last, table); break;
    }
}

bool SegmentHasHole(const uint8_t* in, const HoleColumns& holeColumns, int c0, int n) {
    const uint8_t* raw = holeColumns.raw.data() + c0;
    const uint8_t* has = holeColumns.hasHoles.data() + c0;
    // Bytes throughout, so that the loop compares sixteen pixels at a time.
    uint8_t any = 0;
    for (int i = 0; i < n; ++i) any |= static_cast<uint8_t>(in[i] == raw[i]) & has[i];
    return any != 0;
}

// The rows with a hole anywhere: on most images none or few, so the strips
// look for holes in these rows only, not in every row a second time.
std::vector<int> RowsWithHoles(const cv::Mat& input, int rowEnd, const HoleColumns& holeColumns) {
    std::vector<int> rows;
    for (int r = 0; r < rowEnd; ++r) {
        if (SegmentHasHole(RowOf(input, r), holeColumns, 0, input.cols)) rows.push_back(r);
    }
    return rows;
}

// Lists the strip's holes with the output bytes the lookup will replace.
void RecordStripHoles(const StripRows& strip, const HoleColumns& holeColumns, int c0, const std::vector<int>& rows,
                      std::vector<Hole>& holes) {
    for (int r : rows) {
        const uint8_t* in = strip.in + r * strip.inStep;
        if (!SegmentHasHole(in, holeColumns, c0, strip.columns)) continue;
        const uint8_t* out = strip.out + r * strip.outStep;
        for (int i = 0; i < strip.columns; ++i) {
            if (holeColumns.IsHole(c0 + i, in[i])) holes.push_back({MakeHoleKey(c0 + i, r), out[i]});
        }
    }
}

// On few rows each table serves few pixels, and the processor would wait for
// every table line the strip's first row reaches: the lines a strip's first,
// middle and last rows reach are fetched while the strip before is looked up.
constexpr int kFewRows = 64;

void PrefetchStripTables(const uint8_t* tables, const StripRows& strip) {
    for (int r : {0, strip.rows / 2, strip.rows - 1}) {
        const uint8_t* in = strip.in + static_cast<size_t>(r) * strip.inStep;
        for (int i = 0; i < strip.columns; ++i) __builtin_prefetch(tables + i * kColumnTableSize + in[i], 0, 3);
    }
}

}  // namespace

bool IsPolynomial(RegularValueKind kind) {
    return kind == RegularValueKind::kPolyvalInt || kind == RegularValueKind::kPolyvalFloatGained;
}

int RegularValue(const RegularValueRule& rule, int column, int raw) {
    const float x = static_cast<float>(raw);
    switch (rule.kind) {
        case RegularValueKind::kPolyvalInt:
            return PolyvalGrayInt((*rule.coefficients)[column], x);
        case RegularValueKind::kPolyvalFloatGained:
            return GainedGray(PolyvalGrayFloat((*rule.coefficients)[column], x), rule.gain);
        case RegularValueKind::kLutGained:
            return GainedGray(static_cast<float>((*rule.luts)[column][raw]), rule.gain);
        case RegularValueKind::kLutLowByte:
            return static_cast<uint8_t>((*rule.luts)[column][raw]);
    }
    return 0;
}

uint8_t PreparedRule::Evaluate(int column, int raw) const {
    if (columnTables != nullptr) return columnTables[static_cast<size_t>(column) * kColumnTableSize + raw];
    switch (rule.kind) {
        case RegularValueKind::kLutLowByte:
            return static_cast<uint8_t>(lutColumns[column][raw]);
        case RegularValueKind::kLutGained:
            return static_cast<uint8_t>(GainedGray(static_cast<float>(lutColumns[column][raw]), rule.gain));
        case RegularValueKind::kPolyvalInt:
        case RegularValueKind::kPolyvalFloatGained:
            break;
    }
    const std::vector<float>& coefficients = (*rule.coefficients)[column];
    const size_t terms = coefficients.size();
    if (terms > static_cast<size_t>(kTabledPowers)) return static_cast<uint8_t>(RegularValue(rule, column, raw));
    if (rule.kind == RegularValueKind::kPolyvalInt) {
        double sum = 0.0;
        for (size_t j = 0; j < terms; ++j) sum = AddDoubleTerm(sum, (*powers)[j][raw], coefficients[j]);
        return static_cast<uint8_t>(GrayOfDoubleSum(sum));
    }
    float sum = 0.0f;
    for (size_t j = 0; j < terms; ++j) sum = AddFloatTerm(sum, (*powers)[j][raw], coefficients[j]);
    return static_cast<uint8_t>(GainedGray(ClampToGray(sum), rule.gain));
}

void PreparedRule::WriteRow(const uint8_t* in, uint8_t* out, int begin, int end) const {
    for (int c = begin; c < end; ++c) out[c] = Evaluate(c, in[c]);
}

void PreparedRule::FillColumnTable(int column, int first, int last, uint8_t* table) const {
    switch (rule.kind) {
        case RegularValueKind::kLutLowByte: {
            const int32_t* lut = lutColumns[column];
            for (int p = first; p <= last; ++p) table[p] = static_cast<uint8_t>(lut[p]);
            return;
        }
        case RegularValueKind::kLutGained:
            FillGainedLutColumn(*this, lutColumns[column], table);
            return;
        case RegularValueKind::kPolyvalInt:
        case RegularValueKind::kPolyvalFloatGained:
            break;
    }
    const std::vector<float>& coefficients = (*rule.coefficients)[column];
    if (coefficients.size() > static_cast<size_t>(kTabledPowers)) {
        for (int p = first; p <= last; ++p) table[p] = Evaluate(column, p);
    } else if (rule.kind == RegularValueKind::kPolyvalInt) {
        FillPolynomialColumnOfLength<true>(*this, coefficients, first, last, table);
    } else {
        FillPolynomialColumnOfLength<false>(*this, coefficients, first, last, table);
    }
}

bool TableFillRuns(TableFill fill) {
#ifdef FFC_HAVE_SSE2
    return fill == TableFill::kPlain || fill == TableFill::kSse2;
#else
    return fill == TableFill::kPlain;
#endif
}

PreparedRule PrepareRule(const RegularValueRule& rule, int width) {
    PreparedRule prepared;
    prepared.rule = rule;
    prepared.width = width;
    prepared.fill = TableFillRuns(TableFill::kSse2) ? TableFill::kSse2 : TableFill::kPlain;
    if (IsPolynomial(rule.kind)) {
        prepared.powers = &GrayPowers();
    } else {
        prepared.lutColumns.resize(width);
        for (int c = 0; c < width; ++c) prepared.lutColumns[c] = (*rule.luts)[c].data();
    }
    return prepared;
}

size_t ColumnTablesSize(int width) { return static_cast<size_t>(width) * kColumnTableSize; }

void FillColumnTables(const PreparedRule& prepared, uint8_t* tables) {
    for (int c = 0; c < prepared.width; ++c) {
        prepared.FillColumnTable(c, 0, kColumnTableSize - 1, tables + static_cast<size_t>(c) * kColumnTableSize);
    }
}

void WriteRegularValues(const PreparedRule& prepared, const cv::Mat& input, cv::Mat& output, int rowEnd,
                        const HoleColumns* holeColumns, std::vector<Hole>* holes) {
    const std::vector<int> holeRows =
        holeColumns != nullptr ? RowsWithHoles(input, rowEnd, *holeColumns) : std::vector<int>();
    for (int c0 = 0; c0 < prepared.width; c0 += kStripColumns) {
        const StripRows strip{RowOf(input, 0) + c0, input.step[0], RowOf(output, 0) + c0, output.step[0], rowEnd,
                              std::min(kStripColumns, prepared.width - c0)};
        if (rowEnd > 0 && rowEnd < kFewRows && c0 + kStripColumns < prepared.width) {
            const StripRows next{strip.in + kStripColumns, strip.inStep, strip.out, strip.outStep, rowEnd,
                                 std::min(kStripColumns, prepared.width - c0 - kStripColumns)};
            PrefetchStripTables(prepared.columnTables + ColumnTablesSize(c0 + kStripColumns), next);
        }
        if (!holeRows.empty()) RecordStripHoles(strip, *holeColumns, c0, holeRows, *holes);
        LookUpStrip(prepared.lookup, prepared.columnTables + ColumnTablesSize(c0), strip);
    }
}

void ApplyPolyvalInt(const PreparedRule& prepared, const cv::Mat& input, cv::Mat& output) {
    WriteRegularValues(prepared, input, output, input.rows);
}

}  // namespace ffc
