// The fast correction must give the plain per-pixel rules' bits: the same
// result, the same exception and the same output bytes (also the bytes left
// when it throws), on random instances and images, in every mode of both
// exports.
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "correct/correction.h"
#include "support/plain_correction.h"

namespace ffc {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class RandomCases {
public:
    explicit RandomCases(uint32_t seed) : rng_(seed) {}

    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    float Real(float low, float high) { return std::uniform_real_distribution<float>(low, high)(rng_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    template <size_t N> float OneOf(const float (&values)[N]) { return values[Int(0, N - 1)]; }

    // Mostly fitted-looking polynomials of any length; now and then extreme
    // or non-finite coefficients.
    std::vector<float> Polynomial() {
        static const float kSpecial[] = {0.0f, -0.0f, 1e30f, -1e30f, kInf, kNaN, 254.99f, 255.0f};
        static const float kScale[] = {40.0f, 1.5f, 0.004f, 2e-5f, 1e-7f, 1e-9f};
        std::vector<float> coefficients(Chance(0.8) ? Int(3, 4) : Int(0, 6));
        for (size_t j = 0; j < coefficients.size(); ++j) {
            coefficients[j] = Chance(0.03) ? OneOf(kSpecial) : (j == 1 ? Real(0.3f, 1.5f) : Real(-1, 1) * kScale[j]);
        }
        return coefficients;
    }

    float Gain() { return Chance(0.15) ? OneOf({0.0f, 1.0f, -1.0f, kInf, kNaN}) : Real(0.0f, 2.0f); }

    // Lists of every length a hand-made instance may hold; `minLength` 1
    // keeps them from throwing.
    std::vector<int32_t> List(int minLength, int low, int high) {
        std::vector<int32_t> list(std::max(minLength, Chance(0.05) ? 0 : (Chance(0.7) ? 2 : Int(1, 5))));
        for (int32_t& v : list) v = Int(low, high);
        return list;
    }

    // `complete`: every list a pixel may need is present and non-empty.
    FlatFieldCorrectionInstance Instance(int width, bool complete) {
        FlatFieldCorrectionInstance instance;
        instance.imageWidth = width;
        for (int c = 0; c < width; ++c) {
            instance.quadCoeffs.push_back(Polynomial());
            instance.cubicCoeffs.push_back(Polynomial());
            const int spread = Chance(0.1) ? 2000000 : 400;
            std::vector<int32_t> lut(256);
            for (int32_t& v : lut) v = Int(-spread / 20, spread);
            instance.columnLuts.push_back(lut);
        }
        instance.quadGain = Gain();
        instance.cubicGain = Gain();
        instance.rangeGain = Gain();
        const int listed = complete ? width : Int(0, width);
        const double flagShare = Real(0.0f, 1.0f);
        for (int c = 0; c < listed; ++c) {
            instance.columnFlags.push_back(Chance(flagShare) ? -1 : Int(0, 1));
            instance.columnDarkRanges.push_back(List(complete ? 1 : 0, -20, 300));
            std::vector<std::vector<int32_t>> levels(complete || Chance(0.9) ? 256 : Int(0, 255));
            for (size_t level : {size_t{0}, size_t{255}}) {
                if (level < levels.size()) levels[level] = List(complete ? 1 : 0, -100, 400);
            }
            instance.lutHoleCandidates.push_back(levels);
        }
        for (int c = -1; c <= width; ++c) {
            if (Chance(0.1)) instance.lutExactColumns.push_back(c);
            if (Chance(0.1)) instance.lutDarkHoleColumns.push_back(c);
        }
        return instance;
    }

    // Extra weight on raw 0 (dark pixels) and 255 (holes), now and then a row
    // all 0 or all 255; or, with `everyRaw`, every raw value in every column.
    cv::Mat Image(int rows, int width, bool everyRaw = false) {
        cv::Mat image(rows, width, CV_8UC1);
        const double darkShare = Real(0.0f, 0.6f);
        const double holeShare = Real(0.0f, 0.3f);
        for (int r = 0; r < rows; ++r) {
            const int rowKind = Int(0, 30);
            for (int c = 0; c < width; ++c) {
                int p = Chance(darkShare) ? 0 : (Chance(holeShare) ? 255 : Int(0, 255));
                if (rowKind < 2) p = 255 * rowKind;
                image.at<uint8_t>(r, c) = static_cast<uint8_t>(everyRaw ? (r + 37 * c) % 256 : p);
            }
        }
        return image;
    }

private:
    std::mt19937 rng_;
};

struct Outcome {
    bool result = false;
    std::string thrown;
    cv::Mat output;

    bool operator==(const Outcome& other) const {
        return result == other.result && thrown == other.thrown && output.size() == other.output.size() &&
               cv::countNonZero(output != other.output) == 0;
    }
};

template <class Correct>
Outcome RunCorrection(Correct correct, const cv::Mat& input, const cv::Mat& initialOutput, bool inPlace) {
    Outcome outcome;
    outcome.output = initialOutput.clone();
    cv::Mat ownInput = inPlace ? outcome.output : input;
    try {
        outcome.result = correct(&ownInput, &outcome.output);
    } catch (const std::invalid_argument& e) {
        outcome.thrown = e.what();
    }
    return outcome;
}

const int kModes[] = {0, 1, 4, 5, 6, 2, -1};

// Also checks that modes 0, 1 and 4 are the same operation in both exports.
void ExpectFastMatchesPlain(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, bool inPlace,
                            const std::string& where) {
    const cv::Mat initialOutput = input.clone() ^ cv::Scalar(0x5A);
    for (int mode : kModes) {
        Outcome current;
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            const Outcome fast = RunCorrection(
                [&](auto* in, auto* out) { return CorrectImage(&instance, in, out, mode, generation); }, input,
                initialOutput, inPlace);
            const Outcome plain = RunCorrection(
                [&](auto* in, auto* out) { return PlainCorrectImage(&instance, in, out, mode, generation); }, input,
                initialOutput, inPlace);
            const bool isCurrent = generation == Generation::kCurrent;
            ASSERT_TRUE(fast == plain) << where << " mode " << mode << (isCurrent ? " current" : " previous");
            if (isCurrent) current = fast;
            if (!isCurrent && (mode == 0 || mode == 1 || mode == 4)) ASSERT_TRUE(fast == current) << where;
        }
    }
}

TEST(FastCorrection, MatchesThePlainRulesOnRandomInstancesAndImages) {
    RandomCases random(12);
    const int kRowCounts[] = {1, 2, 5, 40, 63, 64, 100, 256};
    for (int trial = 0; trial < 160; ++trial) {
        const int width = random.Chance(0.2) ? random.Int(100, 400) : random.Int(1, 30);
        const FlatFieldCorrectionInstance instance = random.Instance(width, random.Chance(0.6));
        const int rows = kRowCounts[random.Int(0, 7)];
        const cv::Mat input = random.Image(rows, width, rows == 256);
        const std::string where = "trial " + std::to_string(trial);
        ExpectFastMatchesPlain(instance, input, false, where);
        ExpectFastMatchesPlain(instance, input, true, where + " in place");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace ffc
