#include "fit/order_statistics.h"
#include "fit/polynomial.h"
#include "fit/rounding.h"
#include "support/plain_fits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

namespace ffc {
namespace {

using testing::Polyfit;

// Exact samples come back constant term first; no samples or a rank below
// the order leave the coefficients beyond the rank at 0.
TEST(Polyfit, ReproducesExactSamplesAndGivesZerosBeyondRank) {
    const std::vector<float> line = Polyfit({1.0f, 2.0f, 4.0f}, {5.0f, 8.0f, 14.0f}, 2);
    ASSERT_EQ(line.size(), 3u);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(line[j], (std::vector<float>{2.0f, 3.0f, 0.0f})[j], 1e-4);
    const std::vector<float> quadratic = Polyfit({0.0f, 10.0f, 20.0f}, {5.0f, 25.0f, 85.0f}, 2);
    for (float xi : {0.0f, 10.0f, 20.0f}) {
        EXPECT_NEAR(quadratic[0] + quadratic[1] * xi + quadratic[2] * xi * xi, 5.0f + 0.2f * xi * xi, 1e-3);
    }
    EXPECT_EQ(Polyfit({}, {}, 3), std::vector<float>(4, 0.0f));
    const std::vector<float> c = Polyfit({3.0f, 3.0f, 3.0f}, {6.0f, 6.0f, 6.0f}, 2);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(std::count(c.begin(), c.end(), 0.0f), 2);
    EXPECT_NEAR(c[0] + c[1] * 3.0f + c[2] * 9.0f, 6.0f, 1e-4);
}

// The reused-workspace solve, with its own reflector loop, and the fits of
// one PolyfitWorkspace after another must be the decomposition's own solve
// bit for bit, several right-hand sides (some all -0), short and long;
// repeated abscissae make some designs lose rank. The design matrix skips powf for x^0 and x^1;
// its entries must still be the power rule's bits, also for special values.
TEST(Polyfit, WorkspaceSolveAndDesignMatrixMatchTheirPlainRulesBitForBit) {
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> value(-300.0f, 300.0f);
    Eigen::VectorXf work;
    std::vector<float> coefficients;
    PolyfitWorkspace fits;
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = static_cast<int>(generator() % (trial % 2 == 0 ? 41 : 300));
        const int order = 1 + trial % 3;
        const int spread = 1 + static_cast<int>(generator() % 6);
        std::vector<float> x(n), y(n);
        for (int i = 0; i < n; ++i) x[i] = trial % 4 == 0 ? static_cast<float>(i % spread) : value(generator);
        const PolyfitDesign design = FactorPolyfitDesign(x, order);
        for (int rhs = 0; rhs < 3; ++rhs) {
            for (float& v : y) v = rhs == 2 && trial % 8 == 1 ? -0.0f : value(generator);
            SolvePolyfitInto(design, y.data(), work, coefficients);
            std::vector<float> expected(order + 1, 0.0f);
            if (n > 0) Eigen::VectorXf::Map(expected.data(), order + 1) = design.qr.solve(Eigen::VectorXf::Map(y.data(), n));
            ASSERT_EQ(std::memcmp(coefficients.data(), expected.data(), expected.size() * sizeof(float)), 0) << trial;
            ASSERT_EQ(std::memcmp(fits.Fit(x, y, order).data(), expected.data(), expected.size() * sizeof(float)), 0);
        }
    }
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> x = {0.0f, -0.0f, 1.0f, -1.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max()};
    for (int i = 0; i < 1 << 20; ++i) x.push_back(static_cast<float>(i < 256 ? i : 0));
    for (size_t i = 256 + 9; i < x.size(); ++i) {
        const uint32_t bits = generator();
        std::memcpy(&x[i], &bits, sizeof bits);
    }
    // With a NaN among them, and without (filled column by column).
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) x.erase(std::remove_if(x.begin(), x.end(), [](float v) { return std::isnan(v); }), x.end());
        Eigen::MatrixXf a;
        FillPolyfitDesignMatrix(x, 3, a);
        for (size_t i = 0; i < x.size(); ++i) {
            for (int j = 0; j < 4; ++j) {
                const float expected = PowerOf(x[i], j);
                const float actual = a(static_cast<Eigen::Index>(i), j);
                ASSERT_TRUE(std::isnan(expected) ? std::isnan(actual) : std::memcmp(&expected, &actual, 4) == 0)
                    << "x " << x[i] << " power " << j;
            }
        }
    }
}

// The integer value truncates then clamps, the float value only clamps; NaN
// and overflowing sums come out as 0 and 255, and x^0 is 1 even at x = 0.
TEST(PolyvalGray, IntTruncatesAndFloatOnlyClamps) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        std::vector<float> coefficients;
        float x;
        int asInt;
        float asFloat;
    };
    const Case cases[] = {
        {{10.0f, 1.0f}, 300.0f, 255, 255.0f}, {{-5.0f}, 7.0f, 0, 0.0f},   {{0.9f}, 7.0f, 0, 0.9f},
        {{254.99f}, 7.0f, 254, 254.99f},      {{1e30f, 1e30f}, 1e30f, 255, 255.0f},
        {{nan}, 1.0f, 0, 0.0f},               {{}, 1.0f, 0, 0.0f},        {{7.0f, 1.0f}, 0.0f, 7, 7.0f},
        {{1.0f, 0.5f, 0.25f}, 2.0f, 3, 3.0f},
    };
    std::vector<std::vector<float>> polynomials;
    for (const Case& c : cases) {
        EXPECT_EQ(PolyvalGrayInt(c.coefficients, c.x), c.asInt) << &c - cases;
        EXPECT_EQ(PolyvalGrayFloat(c.coefficients, c.x), c.asFloat) << &c - cases;
        polynomials.push_back(c.coefficients);
    }
    // At one x for all, a cubic among them: the same values as one by one.
    polynomials.push_back({0.5f, 0.01f, -0.002f, 0.0001f});
    for (float x : {0.0f, 2.5f, 37.3f, 181.7f, -4.2f, nan}) {
        const std::vector<float> values = PolyvalGrayFloatOfEach(polynomials, x);
        for (size_t i = 0; i < polynomials.size(); ++i) EXPECT_EQ(values[i], PolyvalGrayFloat(polynomials[i], x));
    }
}

// The whole-gray evaluations with tabled powers, level by level and over a
// run of levels, give the plain one's bits, in and out of the table.
TEST(PolyvalGray, FloatAtWholeGrayMatchesThePlainEvaluationBitForBit) {
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> unit(-3.0f, 3.0f);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<float> coefficients(1 + trial % 5);
        float scale = 100.0f;
        for (float& c : coefficients) c = unit(generator) * (scale *= 0.01f);
        const int32_t first = static_cast<int32_t>(generator() % 300) - 3;
        std::vector<float> values(generator() % 300);
        PolyvalGrayFloatAtGrays(coefficients, first, static_cast<int32_t>(values.size()), values.data());
        for (int gray = -3; gray < 300; ++gray) {
            const float plain = PolyvalGrayFloat(coefficients, static_cast<float>(gray));
            ASSERT_EQ(PolyvalGrayFloatAtGray(coefficients, gray), plain);
            if (gray >= first && gray - first < static_cast<int>(values.size())) ASSERT_EQ(values[gray - first], plain);
        }
    }
}

TEST(RoundToSignificantDigits, MatchesDecimalExamples) {
    auto rounded = [](float v, uint32_t digits) {
        std::vector<float> values = {v};
        RoundToSignificantDigits(values, digits);
        return values[0];
    };
    const std::tuple<float, uint32_t, float> examples[] = {
        {123.456f, 3, 123.0f}, {0.012345f, 3, 0.0123f}, {99.96f, 3, 100.0f}, {2.5f, 1, 3.0f},
        {-2.5f, 1, -3.0f},     {0.15f, 1, 0.2f},        {255.0f, 2, 260.0f}, {1234567.0f, 4, 1235000.0f},
        // No digits: 0 or a power of ten. Scales far outside the usual ones.
        {567.0f, 0, 1000.0f},  {123.0f, 0, 0.0f},       {2.6e-21f, 1, 3e-21f}, {-3.14159e-30f, 3, -3.14e-30f},
    };
    for (const auto& [value, digits, expected] : examples) EXPECT_EQ(rounded(value, digits), expected) << value;
    const float negativeZero = rounded(-0.0f, 3);
    EXPECT_EQ(negativeZero, 0.0f);
    EXPECT_FALSE(std::signbit(negativeZero));
    // More digits than a float holds keep the value, however many.
    for (uint32_t digits : {10u, 20u, 300u, 400u, 2147483648u, 4294967295u}) {
        for (float v : {1.2345678e8f, -0.012345678f, 3.4e38f, 1e-45f}) EXPECT_EQ(rounded(v, digits), v) << digits;
    }
    EXPECT_TRUE(std::isnan(rounded(std::numeric_limits<float>::quiet_NaN(), 3)));
    EXPECT_EQ(rounded(std::numeric_limits<float>::infinity(), 3), std::numeric_limits<float>::infinity());
}

TEST(OrderStatistics, SelectsPositionsAndRejectsOutOfRange) {
    EXPECT_EQ(KthSmallest({3, 1, 2}, 0), 1.0f);
    EXPECT_EQ(KthSmallest({3, 1, 2}, 3), -1.0f);
    EXPECT_EQ(KthSmallest({3, 1, 2}, -1), -1.0f);
    EXPECT_EQ(KthLargest({3, 1, 2}, 0), 3.0f);
    EXPECT_EQ(KthLargest({}, 0), -1.0f);
    // k = n/2 gives the lower median from KthLargest, the upper from KthSmallest.
    EXPECT_EQ(KthLargest({4, 1, 3, 2}, 2), 2.0f);
    EXPECT_EQ(KthSmallest({4, 1, 3, 2}, 2), 3.0f);
    EXPECT_EQ(ArgsortDescending({0.5f, 2.0f, 1.0f}), (std::vector<int>{1, 2, 0}));
}

}  // namespace
}  // namespace ffc
