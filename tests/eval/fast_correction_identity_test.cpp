// The fast correction must give the plain per-pixel rules' bits: the same
// result, the same exception and the same output bytes (also the bytes left
// when it throws), on random instances and images, in every mode of both
// exports.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "eval/correction.h"
#include "eval/plain_correction.h"
#include "eval/regular_values.h"

namespace ffc {
namespace {

class RandomCases {
public:
    explicit RandomCases(uint32_t seed) : rng_(seed) {}

    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    float Real(float low, float high) { return std::uniform_real_distribution<float>(low, high)(rng_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    // Mostly fitted-looking coefficients; now and then extreme or non-finite.
    float Coefficient(size_t power) {
        static const float kSpecial[] = {0.0f, -0.0f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN(), 254.99f, 255.0f};
        if (Chance(0.03)) return kSpecial[Int(0, 7)];
        static const float kScale[] = {40.0f, 1.5f, 0.004f, 2e-5f, 1e-7f, 1e-9f};
        const float scale = kScale[power < 6 ? power : 5];
        return power == 1 ? Real(0.3f, scale) : Real(-scale, scale);
    }

    std::vector<float> Polynomial() {
        static const int kLengths[] = {3, 4, 3, 4, 3, 4, 0, 1, 2, 5, 6};
        std::vector<float> coefficients(kLengths[Int(0, 10)]);
        for (size_t j = 0; j < coefficients.size(); ++j) coefficients[j] = Coefficient(j);
        return coefficients;
    }

    float Gain() {
        static const float kSpecial[] = {0.0f, 1.0f, -1.0f, std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN()};
        return Chance(0.15) ? kSpecial[Int(0, 4)] : Real(0.0f, 2.0f);
    }

    std::vector<int32_t> List(int minLength, int low, int high) {
        static const int kLengths[] = {2, 2, 2, 4, 4, 1, 3, 5};
        const int length = std::max(minLength, Chance(0.05) ? 0 : kLengths[Int(0, 7)]);
        std::vector<int32_t> list(length);
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
            std::vector<int32_t> lut(256);
            const bool wild = Chance(0.1);
            for (int32_t& v : lut) v = wild ? Int(-2000000, 2000000) : Int(-20, 400);
            instance.columnLuts.push_back(lut);
        }
        instance.quadGain = Gain();
        instance.cubicGain = Gain();
        instance.rangeGain = Gain();

        const int flagged = complete ? width : Int(0, width);
        const double flagShare = Real(0.0f, 1.0f);
        for (int c = 0; c < flagged; ++c) {
            instance.columnFlags.push_back(Chance(flagShare) ? -1 : Int(0, 1));
            instance.columnDarkRanges.push_back(List(complete ? 1 : 0, -20, 300));
        }
        if (!complete && Chance(0.5)) instance.columnDarkRanges.resize(Int(0, flagged));

        for (int c = -1; c <= width; ++c) {
            if (Chance(0.1)) instance.lutExactColumns.push_back(c);
            if (Chance(0.1)) instance.lutDarkHoleColumns.push_back(c);
        }
        const int withCandidates = complete ? width : Int(0, width);
        for (int c = 0; c < withCandidates; ++c) {
            std::vector<std::vector<int32_t>> levels(complete || Chance(0.9) ? 256 : Int(0, 255));
            for (size_t level : {size_t{0}, size_t{255}}) {
                if (level < levels.size()) levels[level] = List(complete ? 1 : 0, -100, 400);
            }
            instance.lutHoleCandidates.push_back(levels);
        }
        return instance;
    }

    // Raw values with extra weight on 0 (dark pixels) and 255 (holes); now and
    // then a row of 255 that mode 4 cannot fill, or a row dark from end to end.
    cv::Mat Image(int rows, int width) {
        cv::Mat image(rows, width, CV_8UC1);
        const double darkShare = Real(0.0f, 0.6f);
        const double holeShare = Real(0.0f, 0.3f);
        for (int r = 0; r < rows; ++r) {
            const int rowKind = Int(0, 30);
            for (int c = 0; c < width; ++c) {
                int p = Chance(darkShare) ? 0 : (Chance(holeShare) ? 255 : Int(0, 255));
                if (rowKind == 0) p = 0;
                if (rowKind == 1) p = 255;
                image.at<uint8_t>(r, c) = static_cast<uint8_t>(p);
            }
        }
        return image;
    }

    cv::Mat Filled(const cv::Mat& like) {
        cv::Mat image(like.size(), CV_8UC1);
        for (int r = 0; r < image.rows; ++r) {
            for (int c = 0; c < image.cols; ++c) image.at<uint8_t>(r, c) = static_cast<uint8_t>(Int(0, 255));
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
};

template <class Correct>
Outcome RunCorrection(Correct correct, const FlatFieldCorrectionInstance& instance, const cv::Mat& input,
            const cv::Mat& initialOutput, bool inPlace) {
    Outcome outcome;
    outcome.output = initialOutput.clone();
    cv::Mat ownInput = inPlace ? outcome.output : input;
    try {
        outcome.result = correct(&instance, &ownInput, &outcome.output);
    } catch (const std::invalid_argument& e) {
        outcome.thrown = e.what();
    }
    return outcome;
}

bool SameBytes(const cv::Mat& a, const cv::Mat& b) {
    if (a.size() != b.size() || a.type() != b.type()) return false;
    for (int r = 0; r < a.rows; ++r) {
        if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()) != 0) return false;
    }
    return true;
}

const int kModes[] = {0, 1, 4, 5, 6, 2, -1};

void ExpectFastMatchesPlain(const FlatFieldCorrectionInstance& instance, const cv::Mat& input,
                            const cv::Mat& initialOutput, bool inPlace, const std::string& where) {
    for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
        for (int mode : kModes) {
            const Outcome fast = RunCorrection(
                [&](auto* i, auto* in, auto* out) { return CorrectImage(i, in, out, mode, generation); }, instance,
                input, initialOutput, inPlace);
            const Outcome plain = RunCorrection(
                [&](auto* i, auto* in, auto* out) { return PlainCorrectImage(i, in, out, mode, generation); },
                instance, input, initialOutput, inPlace);
            const std::string context = where + " mode " + std::to_string(mode) +
                                        (generation == Generation::kCurrent ? " current" : " previous");
            ASSERT_EQ(fast.result, plain.result) << context;
            ASSERT_EQ(fast.thrown, plain.thrown) << context;
            ASSERT_TRUE(SameBytes(fast.output, plain.output)) << context;
        }
    }
}

TEST(FastCorrection, PreparedValuesEqualThePerPixelRuleForEveryRawValue) {
    RandomCases random(11);
    for (int trial = 0; trial < 40; ++trial) {
        const int width = random.Int(1, 50);
        const FlatFieldCorrectionInstance instance = random.Instance(width, true);
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            for (int mode : kModes) {
                const RegularValueRule rule = PlanCorrection(instance, generation, mode).rule;
                const RegularValues values = PrepareRegularValues(rule, width);
                uint8_t table[256];
                for (int c = 0; c < width; ++c) {
                    values.FillColumnTable(c, 0, 255, table);
                    for (int p = 0; p < 256; ++p) {
                        const int expected = RegularValue(rule, c, p);
                        ASSERT_EQ(values.Evaluate(c, p), expected) << "mode " << mode << " c " << c << " p " << p;
                        ASSERT_EQ(table[p], expected) << "mode " << mode << " c " << c << " p " << p;
                    }
                }
            }
        }
    }
}

TEST(FastCorrection, MatchesThePlainRulesOnRandomInstancesAndImages) {
    RandomCases random(12);
    const int kRowCounts[] = {1, 2, 5, 40, 63, 64, 100};
    for (int trial = 0; trial < 150; ++trial) {
        const int width = random.Chance(0.2) ? random.Int(100, 400) : random.Int(1, 30);
        const bool complete = random.Chance(0.6);
        const FlatFieldCorrectionInstance instance = random.Instance(width, complete);
        const cv::Mat input = random.Image(kRowCounts[random.Int(0, 6)], width);
        const cv::Mat initialOutput = random.Filled(input);
        const std::string where = "trial " + std::to_string(trial);
        ExpectFastMatchesPlain(instance, input, initialOutput, false, where);
        ExpectFastMatchesPlain(instance, input, initialOutput, true, where + " in place");
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(FastCorrection, MatchesThePlainRulesOverEveryRawValueOfEveryColumn) {
    RandomCases random(13);
    for (int trial = 0; trial < 10; ++trial) {
        const int width = random.Int(1, 60);
        const FlatFieldCorrectionInstance instance = random.Instance(width, true);
        cv::Mat input(256, width, CV_8UC1);
        for (int r = 0; r < 256; ++r) {
            for (int c = 0; c < width; ++c) input.at<uint8_t>(r, c) = static_cast<uint8_t>((r + 37 * c) % 256);
        }
        ExpectFastMatchesPlain(instance, input, random.Filled(input), false, "trial " + std::to_string(trial));
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(FastCorrection, TableModesAgreeBetweenTheTwoExports) {
    RandomCases random(14);
    for (int trial = 0; trial < 30; ++trial) {
        const int width = random.Int(1, 30);
        const FlatFieldCorrectionInstance instance = random.Instance(width, true);
        const cv::Mat input = random.Image(random.Int(1, 80), width);
        for (int mode : {0, 1, 4}) {
            auto correct = [&](Generation generation) {
                return RunCorrection([&](auto* i, auto* in, auto* out) { return CorrectImage(i, in, out, mode, generation); },
                           instance, input, cv::Mat(), false);
            };
            const Outcome current = correct(Generation::kCurrent);
            const Outcome previous = correct(Generation::kPrevious);
            EXPECT_EQ(current.result, previous.result);
            EXPECT_TRUE(SameBytes(current.output, previous.output)) << "mode " << mode;
        }
    }
}

}  // namespace
}  // namespace ffc
