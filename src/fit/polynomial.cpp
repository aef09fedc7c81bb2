#include "fit/polynomial.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "fit/gray_sum.h"

namespace ffc {

namespace {

namespace packet = Eigen::internal;
using Packet = packet::packet_traits<float>::type;
constexpr int kLanes = packet::packet_traits<float>::size;

// The sum of a[i] * b[i] (n >= 1) formed as Eigen's vectorised reduction
// forms it: two packet accumulators over pairs of packets, a last single
// packet, the lanes added by Eigen's own horizontal sum, then the leftover
// products one by one. Fewer products than a packet holds are summed in order.
float PacketOrderDot(const float* a, const float* b, int n) {
    const int packed = n / kLanes * kLanes;
    if (packed == 0) {
        float sum = a[0] * b[0];
        for (int i = 1; i < n; ++i) sum = sum + a[i] * b[i];
        return sum;
    }
    auto product = [&](int i) { return packet::pmul(packet::ploadu<Packet>(a + i), packet::ploadu<Packet>(b + i)); };
    Packet first = product(0);
    if (packed > kLanes) {
        Packet second = product(kLanes);
        const int pairedEnd = n / (2 * kLanes) * (2 * kLanes);
        for (int i = 2 * kLanes; i < pairedEnd; i += 2 * kLanes) {
            first = packet::padd(first, product(i));
            second = packet::padd(second, product(i + kLanes));
        }
        first = packet::padd(first, second);
        if (packed > pairedEnd) first = packet::padd(first, product(pairedEnd));
    }
    float sum = packet::predux(first);
    for (int i = packed; i < n; ++i) sum = sum + a[i] * b[i];
    return sum;
}

// v[i] -= projection * (tau * essential[i]) for i < n, elementwise.
void SubtractScaledReflector(float* v, const float* essential, float tau, float projection, int n) {
    const Packet tauPacket = packet::pset1<Packet>(tau);
    const Packet projectionPacket = packet::pset1<Packet>(projection);
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const Packet scaled = packet::pmul(projectionPacket, packet::pmul(tauPacket, packet::ploadu<Packet>(essential + i)));
        packet::pstoreu(v + i, packet::psub(packet::ploadu<Packet>(v + i), scaled));
    }
    for (; i < n; ++i) v[i] -= projection * (tau * essential[i]);
}

// Applies the first `count` reflectors of the decomposition, in order, to v:
// the operations of Eigen's applyHouseholderOnTheLeft on one column, without
// its general product dispatch and the temporary it allocates per reflector.
void ApplyReflectorsTransposed(const PolyfitDesign& design, Eigen::Index count, float* v) {
    const Eigen::MatrixXf& qr = design.qr.matrixQR();
    const Eigen::Index rows = qr.rows();
    for (Eigen::Index k = 0; k < count; ++k) {
        const float tau = design.qr.hCoeffs().coeff(k);
        float* tail = v + k;
        const int length = static_cast<int>(rows - k);
        if (length == 1) {
            tail[0] *= 1.0f - tau;
            continue;
        }
        if (tau == 0.0f) continue;
        const float* essential = qr.data() + k * rows + k + 1;
        float projection = PacketOrderDot(essential, tail + 1, length - 1);
        projection += tail[0];
        tail[0] -= tau * projection;
        SubtractScaledReflector(tail + 1, essential, tau, projection, length - 1);
    }
}

}  // namespace

float PowerOf(float x, int j) {
    if (j == 2) return x * x;
    return std::pow(x, static_cast<float>(j));
}

const GrayPowerTable& GrayPowers() {
    static const GrayPowerTable table = [] {
        GrayPowerTable powers{};
        for (int j = 0; j < kTabledPowers; ++j) {
            for (int gray = 0; gray < kTabledGrays; ++gray) powers[j][gray] = PowerOf(static_cast<float>(gray), j);
        }
        return powers;
    }();
    return table;
}

namespace {

// Fills `a` with the design matrix of x at `order`, x^3 taken from cube(x).
template <class Cube>
void FillDesignMatrix(const std::vector<float>& x, int order, Eigen::MatrixXf& a, Cube cube) {
    const Eigen::Index rows = static_cast<Eigen::Index>(x.size());
    const Eigen::Index cols = order >= 0 ? static_cast<Eigen::Index>(order) + 1 : 0;
    a.resize(rows, cols);
    // Up to the cube, when every x is a number, whole columns at a time: the
    // same values as the rule below, without choosing a rule per entry.
    if (cols <= 4 && std::all_of(x.begin(), x.end(), [](float value) { return value == value; })) {
        for (Eigen::Index j = 0; j < cols; ++j) {
            float* column = a.col(j).data();
            for (Eigen::Index i = 0; i < rows; ++i) {
                const float value = x[i];
                column[i] = j == 0 ? 1.0f : j == 1 ? value : j == 2 ? value * value : cube(value);
            }
        }
        return;
    }
    // The columns x^0 and x^1 are filled without powf: for every x other
    // than NaN, powf(x, 0) is 1 and powf(x, 1) is x (a signalling NaN gives
    // NaN even at power 0). Fits with distinct abscissae per column build a
    // matrix per fit, and these two columns were most of its powf calls.
    for (Eigen::Index i = 0; i < rows; ++i) {
        const float value = x[i];
        Eigen::Index j = 0;
        if (value == value) {
            for (; j < cols && j < 2; ++j) a(i, j) = j == 0 ? 1.0f : value;
        }
        for (; j < cols; ++j) a(i, j) = j == 3 ? cube(value) : PowerOf(value, static_cast<int>(j));
    }
}

float PlainCube(float x) { return PowerOf(x, 3); }

// Factors the design of x at `order` into `design`, building it in `matrix`
// with fill(x, order, matrix).
template <class Fill>
void FactorInto(const std::vector<float>& x, int order, PolyfitDesign& design, Eigen::MatrixXf& matrix, Fill fill) {
    design.order = order;
    design.sampleCount = static_cast<int>(x.size());
    const int64_t rows = design.sampleCount;
    const int64_t cols = static_cast<int64_t>(order) + 1;
    if (rows > 0 && cols > std::numeric_limits<int64_t>::max() / rows) throw std::bad_alloc();
    if (rows == 0 || cols <= 0) return;
    fill(x, order, matrix);
    design.qr.compute(matrix);
}

// Slots of the cube memory: more than the values one image height gives
// (rows * 255 + 1 means for 100 rows), at 8 bytes each.
constexpr int kCubeSlotBits = 15;
// A NaN pattern that marks an empty slot; a value with these bits is cubed
// every time.
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

}  // namespace

PolyfitDesign FactorPolyfitDesign(const std::vector<float>& x, int order) {
    PolyfitDesign design;
    Eigen::MatrixXf matrix;
    FactorInto(x, order, design, matrix, FillPolyfitDesignMatrix);
    return design;
}

void FillPolyfitDesignMatrix(const std::vector<float>& x, int order, Eigen::MatrixXf& a) {
    FillDesignMatrix(x, order, a, PlainCube);
}

PolyfitWorkspace::PolyfitWorkspace() : cubedBits_(size_t{1} << kCubeSlotBits, kEmptySlot), cubes_(cubedBits_.size()) {}

float PolyfitWorkspace::Cube(float x) {
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    if (bits == kEmptySlot) return PlainCube(x);
    const size_t slot = (bits * 0x9E3779B1u) >> (32 - kCubeSlotBits);
    if (cubedBits_[slot] != bits) {
        cubedBits_[slot] = bits;
        cubes_[slot] = PlainCube(x);
    }
    return cubes_[slot];
}

std::vector<float> PolyfitWorkspace::Fit(const std::vector<float>& x, const std::vector<float>& y, int order) {
    FactorInto(x, order, design_, matrix_, [this](const std::vector<float>& abscissae, int n, Eigen::MatrixXf& a) {
        FillDesignMatrix(abscissae, n, a, [this](float value) { return Cube(value); });
    });
    std::vector<float> coefficients;
    SolvePolyfitInto(design_, y.data(), work_, coefficients);
    return coefficients;
}

void SolvePolyfitInto(const PolyfitDesign& design, const float* y, Eigen::VectorXf& work,
                      std::vector<float>& coefficients) {
    const int coefficientCount = design.order + 1;
    coefficients.assign(coefficientCount > 0 ? coefficientCount : 0, 0.0f);
    if (design.sampleCount == 0 || coefficientCount <= 0) return;
    const Eigen::Index rank = design.qr.nonzeroPivots();
    if (rank == 0) return;

    // The steps of the decomposition's own solve, in its order and with the
    // same types, only into a reused vector: apply Q^T, back-substitute the
    // leading triangle of R, undo the column pivoting. Coefficients past the
    // rank stay 0.
    work.resize(design.sampleCount);
    for (int i = 0; i < design.sampleCount; ++i) work(i) = y[i];
    ApplyReflectorsTransposed(design, rank, work.data());
    design.qr.matrixQR()
        .topLeftCorner(rank, rank)
        .template triangularView<Eigen::Upper>()
        .solveInPlace(work.topRows(rank));
    const auto& pivots = design.qr.colsPermutation().indices();
    for (Eigen::Index i = 0; i < rank; ++i) coefficients[pivots.coeff(i)] = work(i);
}

int PolyvalGrayInt(const std::vector<float>& coefficients, float x) {
    double sum = 0.0;
    for (size_t j = 0; j < coefficients.size(); ++j) {
        sum = AddDoubleTerm(sum, PowerOf(x, static_cast<int>(j)), coefficients[j]);
    }
    return GrayOfDoubleSum(sum);
}

float PolyvalGrayFloat(const std::vector<float>& coefficients, float x) {
    float sum = 0.0f;
    for (size_t j = 0; j < coefficients.size(); ++j) {
        sum = AddFloatTerm(sum, PowerOf(x, static_cast<int>(j)), coefficients[j]);
    }
    return ClampToGray(sum);
}

std::vector<float> PolyvalGrayFloatOfEach(const std::vector<std::vector<float>>& polynomials, float x) {
    size_t most = 0;
    for (const std::vector<float>& coefficients : polynomials) most = std::max(most, coefficients.size());
    std::vector<float> powers(most);
    for (size_t j = 0; j < most; ++j) powers[j] = PowerOf(x, static_cast<int>(j));
    std::vector<float> values;
    values.reserve(polynomials.size());
    for (const std::vector<float>& coefficients : polynomials) {
        float sum = 0.0f;
        for (size_t j = 0; j < coefficients.size(); ++j) sum = AddFloatTerm(sum, powers[j], coefficients[j]);
        values.push_back(ClampToGray(sum));
    }
    return values;
}

float PolyvalGrayFloatAtGray(const std::vector<float>& coefficients, int32_t gray) {
    const bool tabled = gray >= 0 && gray < kTabledGrays;
    const GrayPowerTable& powers = GrayPowers();
    float sum = 0.0f;
    for (size_t j = 0; j < coefficients.size(); ++j) {
        const int power = static_cast<int>(j);
        const float xPower = tabled && power < kTabledPowers ? powers[power][gray]
                                                             : PowerOf(static_cast<float>(gray), power);
        sum = AddFloatTerm(sum, xPower, coefficients[j]);
    }
    return ClampToGray(sum);
}

void PolyvalGrayFloatAtGrays(const std::vector<float>& coefficients, int32_t first, int32_t count, float* values) {
    const bool tabled = first >= 0 && count <= kTabledGrays - first && coefficients.size() <= kTabledPowers;
    if (!tabled) {
        for (int32_t i = 0; i < count; ++i) values[i] = PolyvalGrayFloatAtGray(coefficients, first + i);
        return;
    }
    // Power by power over all the levels: each level's sum still takes its
    // terms in ascending powers, starting from 0.
    const GrayPowerTable& powers = GrayPowers();
    std::fill(values, values + count, 0.0f);
    for (size_t j = 0; j < coefficients.size(); ++j) {
        const float* xPowers = powers[j].data() + first;
        const float coefficient = coefficients[j];
        for (int32_t i = 0; i < count; ++i) values[i] = AddFloatTerm(values[i], xPowers[i], coefficient);
    }
    for (int32_t i = 0; i < count; ++i) values[i] = ClampToGray(values[i]);
}

}  // namespace ffc
