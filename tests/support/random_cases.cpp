#include "support/random_cases.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

namespace ffc::testing {

int32_t RandomSource::InRange(int32_t lo, int32_t hi) {
    const uint64_t span = static_cast<uint64_t>(int64_t{hi} - lo) + 1;
    const uint32_t bits = Next(span <= 0x100 ? 1 : (span <= 0x10000 ? 2 : 4));
    return static_cast<int32_t>(lo + static_cast<int64_t>(bits % span));
}

namespace {

// Of a scarce source only the first 13 columns are drawn. The period shares no
// factor with the 8- and 64-column blocks of the correction's table pass, so
// a pixel looked up in the wrong block's column still tends to show.
template <typename T, typename Draw>
std::vector<T> PerColumn(RandomSource& random, size_t length, Draw draw) {
    const size_t drawn = random.Scarce() ? 13 : length;
    std::vector<T> columns(length);
    for (size_t c = 0; c < length; ++c) columns[c] = c < drawn ? draw() : columns[c - drawn];
    return columns;
}

// The width; when incomplete, now and then none or a little more or less.
size_t ListLength(RandomSource& random, int32_t width, bool complete) {
    const uint8_t kind = complete ? 2 : random.Byte() % 16;
    return static_cast<size_t>(kind == 0 ? 0 : (kind == 1 ? random.InRange(0, width + 2) : std::max(width, 0)));
}

float Fraction(RandomSource& random) { return static_cast<float>(random.Next(2)) / 65536.0f; }

// Any float now and then (NaN, infinities and subnormals included), else one
// of a few extreme or telling values.
float Special(RandomSource& random) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    static const float kValues[] = {0.0f, -0.0f, 1.0f, -1.0f, 254.99f, 255.0f, 1e30f, -1e30f, kInf, -kInf,
                                    std::numeric_limits<float>::quiet_NaN()};
    if (!random.Chance(2)) return kValues[random.Byte() % std::size(kValues)];
    const uint32_t bits = random.Next(4);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Sized as a fit's coefficient of x^power; the slope mostly near 1.
float Coefficient(RandomSource& random, size_t power) {
    static const float kScale[] = {40.0f, 1.5f, 4e-3f, 2e-5f, 1e-7f, 1e-9f, 1e-11f};
    if (random.Chance(24)) return Special(random);
    if (power == 1) return 0.3f + 1.2f * Fraction(random);
    return (2.0f * Fraction(random) - 1.0f) * kScale[std::min(power, std::size(kScale) - 1)];
}

std::vector<std::vector<float>> CoefficientTable(RandomSource& random, size_t length) {
    const int32_t usual = random.Chance(5) ? random.InRange(0, 6) : random.InRange(3, 4);
    return PerColumn<std::vector<float>>(random, length, [&] {
        std::vector<float> coefficients(static_cast<size_t>(random.Chance(8) ? random.InRange(0, 6) : usual));
        for (size_t j = 0; j < coefficients.size(); ++j) coefficients[j] = Coefficient(random, j);
        return coefficients;
    });
}

// A gray level, a little beyond 0..255, and now and then any int.
int32_t Level(RandomSource& random) { return random.Chance(16) ? random.Int32() : random.InRange(-20, 300); }

// Mostly two levels (one range); now and then none or up to five.
std::vector<int32_t> LevelList(RandomSource& random, bool nonEmpty) {
    const int32_t length = random.Chance(16) ? 0 : (random.Chance(3) ? random.InRange(1, 5) : 2);
    std::vector<int32_t> list(static_cast<size_t>(std::max<int32_t>(length, nonEmpty)));
    for (int32_t& v : list) v = Level(random);
    return list;
}

// A rising line with up to seven stray entries; with `oddLengths` now and
// then not 256 long.
std::vector<int32_t> MappingTable(RandomSource& random, bool oddLengths) {
    std::vector<int32_t> lut(oddLengths && random.Chance(4) ? random.InRange(0, 300) : 256);
    // Unsigned, so that a start near the top of the int range wraps.
    const uint32_t start = static_cast<uint32_t>(Level(random)), step = random.Byte() % 4;
    for (size_t p = 0; p < lut.size(); ++p) lut[p] = static_cast<int32_t>(start + step * static_cast<uint32_t>(p));
    for (int n = random.Byte() % 8; n > 0 && !lut.empty(); --n) lut[random.Next(2) % lut.size()] = Level(random);
    return lut;
}

}  // namespace

FlatFieldCorrectionInstance RandomInstance(RandomSource& random, int32_t width, bool complete) {
    FlatFieldCorrectionInstance instance;
    instance.imageWidth = width;
    auto length = [&] { return ListLength(random, width, complete); };
    instance.quadCoeffs = CoefficientTable(random, length());
    instance.cubicCoeffs = CoefficientTable(random, length());
    for (float* gain : {&instance.quadGain, &instance.cubicGain, &instance.rangeGain}) {
        *gain = random.Chance(8) ? Special(random) : 2.0f * Fraction(random);
    }
    const uint8_t flagRate = random.Byte();
    instance.columnFlags = PerColumn<int32_t>(random, length(), [&] {
        return random.Byte() < flagRate ? -1 : (random.Chance(4) ? Level(random) : 0);
    });
    instance.columnDarkRanges =
        PerColumn<std::vector<int32_t>>(random, length(), [&] { return LevelList(random, complete); });
    const bool oddLengths = !complete && random.Chance(4);
    instance.columnLuts =
        PerColumn<std::vector<int32_t>>(random, length(), [&] { return MappingTable(random, oddLengths); });
    for (auto* list : {&instance.lutExactColumns, &instance.lutDarkHoleColumns}) {
        for (int n = random.Byte() % 8; n > 0; --n) list->push_back(random.InRange(-2, std::max(width, 0) + 1));
    }
    // Candidates for the hole values 0 and 255.
    instance.lutHoleCandidates = PerColumn<std::vector<std::vector<int32_t>>>(random, length(), [&] {
        std::vector<std::vector<int32_t>> levels(!complete && random.Chance(4) ? random.Byte() : 256);
        if (!levels.empty()) levels.front() = LevelList(random, complete);
        if (levels.size() > 1) levels.back() = LevelList(random, complete);
        return levels;
    });
    return instance;
}

cv::Mat RandomImage(RandomSource& random, int rows, int cols, int type) {
    const bool view = random.Chance(4);
    cv::Mat storage(rows, cols + (view ? 3 : 0), type);
    const size_t rowBytes = storage.cols * storage.elemSize(), total = rowBytes * static_cast<size_t>(rows);
    std::vector<uint8_t> pattern(std::min<size_t>(total, random.Scarce() ? 1 + random.Byte() % 64 : total));
    for (uint8_t& b : pattern) b = random.Byte();
    // With `step` 1 the rows rise by their index, so that a column of 256 rows
    // meets every raw value.
    const uint32_t spread = random.Chance(4) ? 255 : random.Byte() % 16, step = random.Chance(4);
    const uint32_t darkRate = random.Byte() / 2, holeRate = random.Byte() / 4, wholeRowRate = random.Byte() / 16;
    // The choices per row and per byte come from a generator seeded from the
    // source, for four bytes of a fuzzer's input.
    std::minstd_rand next(random.Next(4));
    for (int r = 0; r < rows && rowBytes > 0; ++r) {
        const uint32_t raise = step * static_cast<uint32_t>(r) + next() % (spread + 1), whole = next() % 256;
        for (size_t i = 0; i < rowBytes; ++i) {
            const uint32_t pick = next() % 256;
            const uint8_t b = static_cast<uint8_t>(pattern[(r * rowBytes + i) % pattern.size()] + raise);
            storage.ptr(r)[i] = pick < darkRate ? 0 : (pick < darkRate + holeRate ? 255 : b);
        }
        if (whole < wholeRowRate) std::memset(storage.ptr(r), 255 * (whole & 1), rowBytes);
    }
    return view ? storage(cv::Rect(1, 0, cols, rows)) : storage;
}

}  // namespace ffc::testing
