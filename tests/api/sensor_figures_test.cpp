// Sensor figures: hand-worked statistics of a tiny image, the figures of a
// simulated module against the truth its parameters give, the uncertainty
// against the spread over repeated images, and the bounds where an image
// cannot resolve a figure.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "VyrCISFlatfieldCorrection.hpp"
#include "cis_simulator.h"
#include "response.h"

namespace vyrffc {
namespace {

// Per column: a fixed level plus Gaussian noise of `sigma`, rounded, never
// clipped for the levels the tests use.
cv::Mat PatternedImage(const std::vector<double>& levels, int rows, double sigma, std::mt19937& generator) {
    std::normal_distribution<double> noise(0.0, sigma);
    cv::Mat image(rows, static_cast<int>(levels.size()), CV_8UC1);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < image.cols; ++c) {
            image.at<uint8_t>(r, c) = cv::saturate_cast<uint8_t>(std::lround(levels[c] + noise(generator)));
        }
    }
    return image;
}

double Variance(const std::vector<double>& values) {
    double mean = 0.0, sum = 0.0;
    for (double v : values) mean += v / values.size();
    for (double v : values) sum += (v - mean) * (v - mean);
    return sum / (values.size() - 1);
}

TEST(LineStatistics, HandWorkedTinyImage) {
    // Columns 1 and 2 measured, column 0 (all 255) left out.
    //   column 1: 10 12 14, mean 12, variance (4 + 0 + 4) / 2 = 4
    //   column 2:  0  0  3, mean  1, variance (1 + 1 + 4) / 2 = 3
    // mu = 39 / 6 = 6.5; sigma^2 = 3.5; s^2 measured = 5.5^2 * 2 / 1 = 60.5;
    // s^2 = 60.5 - 3.5 / 3 = 59.333; 2 of 6 pixels at 0.
    // Uncertainty: v = 3.5 / 3, (4 * 59.333 v + 2 v^2) / 1 + 2 * 3.5^2 / (9 * 2 * 2) = 280.29, sd 16.742.
    const cv::Mat image = (cv::Mat_<uint8_t>(3, 3) << 255, 10, 0, 255, 12, 0, 255, 14, 3);
    const LineStatistics s = MeasureLine(image, {1, 2});
    EXPECT_EQ(s.rows, 3);
    EXPECT_EQ(s.columns, 2);
    EXPECT_DOUBLE_EQ(s.mean, 6.5);
    EXPECT_DOUBLE_EQ(s.temporalVariance, 3.5);
    EXPECT_DOUBLE_EQ(s.measuredSpatialVariance, 60.5);
    EXPECT_DOUBLE_EQ(s.spatialVariance, 60.5 - 3.5 / 3);
    EXPECT_NEAR(s.spatialVarianceUncertainty, 16.7419, 1e-4);
    EXPECT_DOUBLE_EQ(s.clippedLow, 2.0 / 6);
    EXPECT_EQ(s.clippedHigh, 0.0);

    const LineStatistics every = MeasureLine(image);
    EXPECT_EQ(every.columns, 3);
    EXPECT_DOUBLE_EQ(every.clippedHigh, 3.0 / 9);
}

TEST(LineStatistics, RefusesWhatCannotGiveAVariance) {
    const auto reason = [](const cv::Mat& image, const std::vector<int32_t>& columns) {
        try {
            MeasureLine(image, columns);
        } catch (const Error& error) {
            return error.reason();
        }
        return ErrorReason::kInvalidSettings;  // none
    };
    const cv::Mat gray(4, 4, CV_8UC1, cv::Scalar(9));
    EXPECT_EQ(reason(cv::Mat(4, 4, CV_8UC3, cv::Scalar(9, 9, 9)), {}), ErrorReason::kImageUnusable);
    EXPECT_EQ(reason(gray.rowRange(0, 1), {}), ErrorReason::kImageUnusable);
    EXPECT_EQ(reason(gray, {2}), ErrorReason::kImageUnusable);
    EXPECT_EQ(reason(gray, {-1, 4}), ErrorReason::kColumnOutsideImage);
}

// A line of 64 columns with a fixed pattern (s = 0.5) under noise of sigma 2
// over 16 rows, measured 400 times: the spread of s^2 over the images is what
// its derived uncertainty says. The standard deviation of 400 values is itself
// known to about 1 / sqrt(2 * 399) = 3.5%; 15% is over 4 of those.
TEST(LineStatistics, UncertaintyIsTheSpreadOverRepeatedImages) {
    std::mt19937 generator(7);
    std::normal_distribution<double> pattern(0.0, 0.5);
    std::vector<double> levels(64);
    for (double& level : levels) level = 100.0 + pattern(generator);
    std::vector<double> spatial;
    double uncertainty = 0.0;
    for (int i = 0; i < 400; ++i) {
        const LineStatistics s = MeasureLine(PatternedImage(levels, 16, 2.0, generator));
        spatial.push_back(s.spatialVariance);
        uncertainty += s.spatialVarianceUncertainty / 400;
    }
    EXPECT_NEAR(std::sqrt(Variance(spatial)), uncertainty, 0.15 * uncertainty);
}

// The simulated module's middle fifth, where the reference columns lie and
// no dark column is placed. The truth is the figures' formulas applied to
// the column means before noise, the dark noise the simulator's sigma with
// the rounding's 1/12 added. Each measured variance must lie within 4 of its
// derived standard deviations of the truth; the temporal variance, a mean of
// W sample variances with L - 1 degrees of freedom, within 4 sqrt(2 / ((L - 1) W))
// of it relatively.
TEST(SensorFigures, SimulatedModuleGivesItsTrueFigures) {
    cissim::SimulatorOptions options;
    options.width = 2048;
    options.height = 16;
    const cissim::CisCamera camera = cissim::MakeCamera(options);
    std::vector<int32_t> columns;
    for (int32_t c = options.width * 2 / 5; c < options.width * 3 / 5; ++c) columns.push_back(c);

    const double light = 120.0;
    const std::vector<double> flatMeans = cissim::ExpectedColumnValues(camera, light);
    const std::vector<double> darkMeans = cissim::ExpectedColumnValues(camera, 0.0);
    std::vector<double> flat, dark;
    double darkNoise = 0.0;
    for (int32_t c : columns) {
        flat.push_back(flatMeans[c]);
        dark.push_back(darkMeans[c]);
        darkNoise += std::pow(cissim::NoiseSigma(camera, darkMeans[c]), 2) / columns.size();
    }
    darkNoise += 1.0 / 12.0;
    double signal = 0.0;
    for (size_t i = 0; i < flat.size(); ++i) signal += (flat[i] - dark[i]) / flat.size();
    const double truePrnu = std::sqrt(Variance(flat) - Variance(dark)) / signal;
    const double trueDsnu = std::sqrt(Variance(dark));

    const SensorFigures f = MeasureSensorFigures(cissim::RenderFlatImage(camera, light, 11),
                                                 cissim::RenderFlatImage(camera, 0.0, 12), columns);
    const double w = static_cast<double>(columns.size()), l = options.height;
    EXPECT_NEAR(f.dark.temporalVariance, darkNoise, 4.0 * std::sqrt(2.0 / ((l - 1) * w)) * darkNoise);
    EXPECT_NEAR(f.dark.spatialVariance, Variance(dark), 4.0 * f.dark.spatialVarianceUncertainty);
    EXPECT_NEAR(f.flat.spatialVariance - f.dark.spatialVariance, Variance(flat) - Variance(dark),
                4.0 * std::hypot(f.flat.spatialVarianceUncertainty, f.dark.spatialVarianceUncertainty));
    ASSERT_FALSE(f.prnu.bound || f.dsnu.bound || f.darkNoise.bound);
    const auto record = [](const char* name, double truth, const Figure& measured, bool percent) {
        RecordProperty(name, "true " + FormatFigure({truth}, percent) + " measured " + FormatFigure(measured, percent));
    };
    record("prnu", truePrnu, f.prnu, true);
    record("dsnu", trueDsnu, f.dsnu, false);
    record("darkNoise", std::sqrt(darkNoise), f.darkNoise, false);
}

TEST(SensorFigures, WhatTheImagesCannotResolveIsABound) {
    std::mt19937 generator(3);
    const std::vector<double> flatLevels(200, 128.0), darkLevels(200, 6.0);
    std::vector<double> patterned(200);
    for (size_t c = 0; c < patterned.size(); ++c) patterned[c] = 128.0 + (c % 2 ? 3.0 : -3.0);

    // A flat whose spread is all temporal noise.
    const cv::Mat dark = PatternedImage(darkLevels, 16, 1.0, generator);
    SensorFigures f = MeasureSensorFigures(PatternedImage(flatLevels, 16, 2.0, generator), dark);
    EXPECT_TRUE(f.prnu.bound && f.prnu.value > 0.0 && f.prnu.value < 0.005);

    // Constant images: nothing resolved, yet no bound comes out as 0.
    f = MeasureSensorFigures(cv::Mat(16, 200, CV_8UC1, cv::Scalar(128)), cv::Mat(16, 200, CV_8UC1, cv::Scalar(6)));
    EXPECT_TRUE(f.prnu.bound && f.dsnu.bound && f.darkNoise.bound);
    EXPECT_TRUE(f.prnu.value > 0.0 && f.dsnu.value > 0.0);
    EXPECT_EQ(FormatFigure(f.darkNoise, false, 1), "< 0.3 DN");

    // A dark image varying more than the flat (as a correction can leave it):
    // bounded by the flat's own spread, never 0.
    std::vector<double> darkPattern(200);
    for (size_t c = 0; c < darkPattern.size(); ++c) darkPattern[c] = c % 2 ? 14.0 : 2.0;
    f = MeasureSensorFigures(PatternedImage(flatLevels, 16, 0.6, generator),
                             PatternedImage(darkPattern, 16, 0.6, generator));
    EXPECT_TRUE(f.prnu.bound && f.prnu.value > 0.0);

    // A dark image clipped at 0 bounds its spreads as delivered, never 0; a
    // clipped flat hides its pattern.
    f = MeasureSensorFigures(PatternedImage(patterned, 16, 1.0, generator), cv::Mat(16, 200, CV_8UC1, cv::Scalar(0)));
    EXPECT_FALSE(f.prnu.bound);
    EXPECT_NEAR(f.prnu.value, 3.0 / 128.0, 0.001);
    EXPECT_EQ(FormatFigure(f.dsnu, false, 2), "< 0.08 DN");  // sqrt(1/12 / 16), rounded up
    EXPECT_EQ(FormatFigure(f.darkNoise, false, 2), "< 0.29 DN");
    cv::Mat halfClipped = PatternedImage(darkPattern, 16, 0.6, generator);
    halfClipped.colRange(0, 100).setTo(0);
    f = MeasureSensorFigures(PatternedImage(patterned, 16, 1.0, generator), halfClipped);
    EXPECT_TRUE(f.dsnu.bound && f.darkNoise.bound && f.dsnu.value > 5.0);
    f = MeasureSensorFigures(PatternedImage(patterned, 16, 1.0, generator), cv::Mat(16, 200, CV_8UC1, cv::Scalar(255)));
    EXPECT_TRUE(std::isnan(f.dsnu.value) && std::isnan(f.darkNoise.value) && !f.dsnu.why.empty());
    f = MeasureSensorFigures(cv::Mat(16, 200, CV_8UC1, cv::Scalar(255)), dark);
    EXPECT_TRUE(std::isnan(f.prnu.value));
}

TEST(SensorFigures, PrnuImageIsTheUnclippedOneNearestHalfSaturation) {
    LineStatistics dark;
    dark.mean = 5.0;  // half of saturation: 125 above the dark level
    const auto flat = [](double mean, double clippedHigh) {
        LineStatistics s;
        s.mean = mean;
        s.clippedHigh = clippedHigh;
        return s;
    };
    EXPECT_EQ(NearestHalfSaturation({flat(40, 0), flat(120, 0), flat(140, 0), flat(130, 0.5)}, dark), 1);
    EXPECT_EQ(NearestHalfSaturation({flat(40, 0), flat(250, 0.02)}, dark), 0);
    EXPECT_EQ(NearestHalfSaturation({flat(250, 0.02)}, dark), -1);
    EXPECT_EQ(NearestHalfSaturation({}, dark), -1);
}

TEST(SensorFigures, FormattedAlikeEverywhere) {
    const double nan = std::nan("");
    const struct {
        Figure figure;
        bool percent;
        int decimals;
        const char* text;
    } cases[] = {
        {{0.00178}, true, 3, "0.178%"},
        {{0.000412, true}, true, 2, "< 0.05%"},  // a bound rounds up
        {{0.0005, true}, true, 2, "< 0.05%"},    // but not past an exact one
        {{1.234}, false, 2, "1.23 DN"},
        {{0.2887, true}, false, 1, "< 0.3 DN"},
        {{nan, true}, false, 3, "n/a"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFigure(c.figure, c.percent, c.decimals), c.text);
}

}  // namespace
}  // namespace vyrffc
