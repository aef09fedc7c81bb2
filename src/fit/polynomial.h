// Least-squares polynomial fitting and the evaluation of polynomials as gray
// values. Coefficient vectors hold ascending powers: element j multiplies x^j.
#ifndef VYR_FFC_POLYNOMIAL_H
#define VYR_FFC_POLYNOMIAL_H

#include <array>
#include <cstdint>
#include <vector>

#include <Eigen/Dense>

namespace ffc {

// x^j in single precision, formed the same way by the fit and both
// evaluations: the product x*x for j = 2, powf(x, j) for every other j (so
// x^0 is 1 even for x = 0).
float PowerOf(float x, int j);

// PowerOf(gray, j) for the whole gray levels 0..255 and j = 0..3, laid out
// power by power so that loops over gray levels read one row. Polynomials are
// evaluated at whole gray levels column after column, so the powers are looked
// up instead of recomputed.
constexpr int kTabledPowers = 4;
constexpr int kTabledGrays = 256;
using GrayPowerTable = std::array<std::array<float, kTabledGrays>, kTabledPowers>;

// The table, built on first use and never changed.
const GrayPowerTable& GrayPowers();

// The factored design matrix of one set of abscissae and one order. Fitting
// several right-hand sides against the same abscissae factors the matrix once;
// the solution of each is bit-identical to a fit with a freshly factored one.
struct PolyfitDesign {
    int order = 0;
    int sampleCount = 0;
    Eigen::ColPivHouseholderQR<Eigen::MatrixXf> qr;
};

// Resizes `a` to the design matrix A(i, j) = PowerOf(x_i, j), j = 0..order,
// and fills it, bit for bit.
void FillPolyfitDesignMatrix(const std::vector<float>& x, int order, Eigen::MatrixXf& a);

// Builds the design matrix A(i, j) = x_i^j (j = 0..order) and factors it with
// column-pivoting Householder QR in single precision (default threshold).
PolyfitDesign FactorPolyfitDesign(const std::vector<float>& x, int order);

// Least-squares coefficients of the factored design for the values y (at
// least as many as the design has samples; the rest are ignored), written
// into `coefficients` (resized to order + 1), with `work` as the scratch
// vector: a caller fitting many right-hand sides reuses both and allocates
// nothing per fit. Coefficients beyond the numerical rank are 0; no samples
// give all zeros.
void SolvePolyfitInto(const PolyfitDesign& design, const float* y, Eigen::VectorXf& work,
                      std::vector<float>& coefficients);

// The least-squares polynomial of the given order through one point set
// (x, y) after another: order + 1 coefficients, constant term first, those of
// SolvePolyfitInto on a fresh FactorPolyfitDesign bit for bit. It reuses the
// buffers of the last fit and remembers x^3 of the abscissae met so far: a run
// fits thousands of point sets drawn from a few thousand distinct values, and
// powf was most of the cost of building their designs.
class PolyfitWorkspace {
public:
    PolyfitWorkspace();
    std::vector<float> Fit(const std::vector<float>& x, const std::vector<float>& y, int order);

private:
    float Cube(float x);

    std::vector<uint32_t> cubedBits_;  // bits of the value cubed in each slot
    std::vector<float> cubes_;
    Eigen::MatrixXf matrix_;
    PolyfitDesign design_;
    Eigen::VectorXf work_;
};

// Evaluates the polynomial at x summing the float terms x^j * c_j in double,
// then truncates toward zero and clamps to 0..255 (a NaN sum gives 0).
int PolyvalGrayInt(const std::vector<float>& coefficients, float x);

// Evaluates the polynomial at x summing in float, term by term in ascending
// powers; the sum is clamped to 0..255 but not rounded (a NaN sum gives 0).
float PolyvalGrayFloat(const std::vector<float>& coefficients, float x);

// PolyvalGrayFloat of every polynomial at the same x, bit for bit, with the
// powers of x (powf for the cube) formed once for all of them.
std::vector<float> PolyvalGrayFloatOfEach(const std::vector<std::vector<float>>& polynomials, float x);

// PolyvalGrayFloat at a whole gray level, bit for bit, with the powers looked
// up in the gray power table where it holds them.
float PolyvalGrayFloatAtGray(const std::vector<float>& coefficients, int32_t gray);

// PolyvalGrayFloatAtGray at the `count` whole gray levels from `first` on,
// into values[0..count).
void PolyvalGrayFloatAtGrays(const std::vector<float>& coefficients, int32_t first, int32_t count, float* values);

}  // namespace ffc

#endif  // VYR_FFC_POLYNOMIAL_H
