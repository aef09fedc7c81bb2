#include "correct/prepared_rule.h"

#include <algorithm>
#include <cstring>

#include "correct/image_rows.h"

namespace ffc {

namespace {

// Images with fewer rows evaluate each pixel; taller ones tabulate.
constexpr int kTableRowThreshold = 64;

// Columns per strip: 64 tables of 256 bytes fill 16 KB, half the first-level
// cache, and a strip's row segment is one whole cache line, so no line of the
// input or output is fetched twice.
constexpr int kStripColumns = 64;

// The clamps of PolyvalGrayFloat and PolyvalGrayInt, written as selects so
// that the table loops vectorise. A NaN sum gives 0 in both.
inline float ClampGrayFloat(float sum) {
    return sum > 255.0f ? 255.0f : (sum > 0.0f ? sum : 0.0f);
}

inline uint8_t GrayOfDoubleSum(double sum) {
    const double clamped = sum > 0.0 ? (sum < 255.0 ? sum : 255.0) : 0.0;
    return static_cast<uint8_t>(static_cast<int>(clamped));
}

// One column's table from its K coefficients, term by term in ascending
// powers as the evaluations sum them.
template <int K, bool kIntegerSum>
void FillPolynomialColumn(const PreparedRule& prepared, const float* k, int first, int last, uint8_t* table) {
    const float* pw0 = (*prepared.powers)[0].data();
    const float* pw1 = (*prepared.powers)[1].data();
    const float* pw2 = (*prepared.powers)[2].data();
    const float* pw3 = (*prepared.powers)[3].data();
    const float k0 = K > 0 ? k[0] : 0.0f;
    const float k1 = K > 1 ? k[1] : 0.0f;
    const float k2 = K > 2 ? k[2] : 0.0f;
    const float k3 = K > 3 ? k[3] : 0.0f;
    const float gain = prepared.rule.gain;
    for (int p = first; p <= last; ++p) {
        if (kIntegerSum) {
            double sum = 0.0;
            if (K > 0) sum = sum + static_cast<double>(pw0[p] * k0);
            if (K > 1) sum = sum + static_cast<double>(pw1[p] * k1);
            if (K > 2) sum = sum + static_cast<double>(pw2[p] * k2);
            if (K > 3) sum = sum + static_cast<double>(pw3[p] * k3);
            table[p] = GrayOfDoubleSum(sum);
        } else {
            float sum = 0.0f;
            if (K > 0) sum = pw0[p] * k0 + sum;
            if (K > 1) sum = pw1[p] * k1 + sum;
            if (K > 2) sum = pw2[p] * k2 + sum;
            if (K > 3) sum = pw3[p] * k3 + sum;
            table[p] = static_cast<uint8_t>(GainedGray(ClampGrayFloat(sum), gain));
        }
    }
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
    unsigned any = 0;
    for (int i = 0; i < n; ++i) any |= static_cast<unsigned>(in[i] == raw[i]) & has[i];
    return any != 0;
}

void RecordHoles(const uint8_t* in, const uint8_t* out, const HoleColumns& holeColumns, int c0, int n, int row,
                 std::vector<Hole>& holes) {
    for (int i = 0; i < n; ++i) {
        const int c = c0 + i;
        if (holeColumns.IsHole(c, in[i])) holes.push_back({MakeHoleKey(c, row), out[i]});
    }
}

// out[i] = tables[i][in[i]] for one row of a strip. Eight pixels at a time
// are read with one load and written with one store: fewer memory operations,
// and no load of the input waits on a store to the output a page apart.
void LookUpSegment(const uint8_t* tables, const uint8_t* in, uint8_t* out, int n) {
    int i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ || defined(_M_X64)
    for (; i + 8 <= n; i += 8) {
        uint64_t raw;
        std::memcpy(&raw, in + i, 8);
        const uint8_t* t = tables + i * 256;
        uint64_t corrected = 0;
        for (int j = 0; j < 8; ++j) corrected |= uint64_t{t[j * 256 + ((raw >> (8 * j)) & 0xFF)]} << (8 * j);
        std::memcpy(out + i, &corrected, 8);
    }
#endif
    for (; i < n; ++i) out[i] = tables[i * 256 + in[i]];
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
        for (size_t j = 0; j < terms; ++j) sum = sum + static_cast<double>((*powers)[j][raw] * coefficients[j]);
        return GrayOfDoubleSum(sum);
    }
    float sum = 0.0f;
    for (size_t j = 0; j < terms; ++j) sum = (*powers)[j][raw] * coefficients[j] + sum;
    return static_cast<uint8_t>(GainedGray(ClampGrayFloat(sum), rule.gain));
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
        case RegularValueKind::kLutGained: {
            const int32_t* lut = lutColumns[column];
            for (int p = first; p <= last; ++p) {
                table[p] = static_cast<uint8_t>(GainedGray(static_cast<float>(lut[p]), rule.gain));
            }
            return;
        }
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

PreparedRule PrepareRule(const RegularValueRule& rule, int width) {
    PreparedRule prepared;
    prepared.rule = rule;
    prepared.width = width;
    if (IsPolynomial(rule.kind)) {
        prepared.powers = &GrayPowers();
    } else {
        prepared.lutColumns.resize(width);
        for (int c = 0; c < width; ++c) prepared.lutColumns[c] = (*rule.luts)[c].data();
    }
    return prepared;
}

bool WorthTabulating(int rows) {
    return rows >= kTableRowThreshold;
}

void WriteRegularValues(const PreparedRule& prepared, const cv::Mat& input, cv::Mat& output, int rowEnd,
                        const HoleColumns* holeColumns, std::vector<Hole>* holes) {
    // Only the raw values a column holds are looked up: on camera images a
    // column spans a narrow band, so most of a polynomial's table is never
    // read. One pass along the rows finds each column's band. Tables copied
    // from the column tables cost less than that pass and are filled whole.
    const int width = prepared.width;
    const bool polynomial = IsPolynomial(prepared.rule.kind);
    std::vector<uint8_t> lowest(width, polynomial ? 255 : 0);
    std::vector<uint8_t> highest(width, 255);
    if (polynomial) std::fill(highest.begin(), highest.end(), uint8_t{0});
    for (int r = 0; polynomial && r < rowEnd; ++r) {
        const uint8_t* in = RowOf(input, r);
        uint8_t* low = lowest.data();
        uint8_t* high = highest.data();
        for (int c = 0; c < width; ++c) {
            low[c] = std::min(low[c], in[c]);
            high[c] = std::max(high[c], in[c]);
        }
    }
    alignas(64) uint8_t tables[kStripColumns * 256];
    for (int c0 = 0; c0 < width; c0 += kStripColumns) {
        const int n = std::min(kStripColumns, width - c0);
        for (int i = 0; i < n; ++i) prepared.FillColumnTable(c0 + i, lowest[c0 + i], highest[c0 + i], tables + i * 256);
        for (int r = 0; r < rowEnd; ++r) {
            const uint8_t* in = RowOf(input, r) + c0;
            uint8_t* out = RowOf(output, r) + c0;
            if (holeColumns != nullptr && SegmentHasHole(in, *holeColumns, c0, n)) {
                RecordHoles(in, out, *holeColumns, c0, n, r, *holes);
            }
            LookUpSegment(tables, in, out, n);
        }
    }
}

void ApplyPolyvalInt(const PreparedRule& prepared, const cv::Mat& input, cv::Mat& output) {
    if (WorthTabulating(input.rows)) {
        WriteRegularValues(prepared, input, output, input.rows);
        return;
    }
    for (int r = 0; r < input.rows; ++r) prepared.WriteRow(RowOf(input, r), RowOf(output, r), 0, input.cols);
}

}  // namespace ffc
