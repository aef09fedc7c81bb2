// Sensor figures of a line sensor: temporal and spatial variances of one
// image, PRNU, DSNU and the temporal dark noise, and how they are printed.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc {

namespace {

// A spatial variance (or a difference of two) below this many of its standard
// deviations is not told apart from none: about 2.3% of lines without any
// spatial pattern would reach it by chance.
constexpr double kResolvedDeviations = 2.0;

// Rounding to whole gray levels: the variance of the rounding error. A column
// mean of L rounded values resolves no spread finer than this over L, noise or
// not, so a bound never comes out as "< 0".
constexpr double kQuantisationVariance = 1.0 / 12.0;

void CheckImage(const cv::Mat& image) {
    if (image.empty() || image.type() != CV_8UC1) {
        throw Error(ErrorReason::kImageUnusable, "the image to measure is not an 8-bit single-channel image");
    }
    if (image.rows < 2) {
        throw Error(ErrorReason::kImageUnusable,
                    "the image to measure has " + std::to_string(image.rows) +
                        " row; its rows are the repeated exposures, and a variance needs 2 or more");
    }
}

std::vector<int32_t> ColumnsToMeasure(const cv::Mat& image, const std::vector<int32_t>& columns) {
    if (columns.empty()) {
        std::vector<int32_t> every(static_cast<size_t>(image.cols));
        for (int32_t c = 0; c < image.cols; ++c) every[c] = c;
        return every;
    }
    for (int32_t c : columns) {
        if (c < 0 || c >= image.cols) {
            throw Error(ErrorReason::kColumnOutsideImage, "column " + std::to_string(c) +
                                                              " is outside the image of " +
                                                              std::to_string(image.cols) + " columns");
        }
    }
    return columns;
}

// Per column the sum and the sum of squares over the rows, exact in integers:
// 2^20 rows of 255^2 stay far inside 63 bits.
struct ColumnSums {
    std::vector<int64_t> sum, squares;
};

ColumnSums SumColumns(const cv::Mat& image, const std::vector<int32_t>& columns, int64_t& low, int64_t& high) {
    ColumnSums sums{std::vector<int64_t>(columns.size(), 0), std::vector<int64_t>(columns.size(), 0)};
    for (int r = 0; r < image.rows; ++r) {
        const uint8_t* row = image.ptr<uint8_t>(r);
        for (size_t i = 0; i < columns.size(); ++i) {
            const int64_t value = row[columns[i]];
            sums.sum[i] += value;
            sums.squares[i] += value * value;
            low += value == 0;
            high += value == 255;
        }
    }
    return sums;
}

// The standard deviation of s^2 = m - t / L, where m is the variance of W
// column means and t the mean of W variances over L rows each. The pattern of
// the columns is what is measured, so only the temporal noise (variance
// v = t / L in a column mean, Gaussian) makes s^2 uncertain:
//  - m = (1/(W-1)) sum (a_c + e_c)^2 about its mean, with a fixed pattern a of
//    variance s^2 and noise e: Var(m) = (4 s^2 v + 2 v^2) / (W - 1);
//  - t averages W sample variances of L - 1 degrees of freedom:
//    Var(t / L) = 2 t^2 / (L^2 (L - 1) W);
//  - the two are independent (a Gaussian sample's mean and variance are).
// s^2 enters with its measured value, or 0 when that comes out negative.
double SpatialVarianceUncertainty(const LineStatistics& s) {
    const double w = s.columns, l = s.rows;
    const double v = s.temporalVariance / l;
    const double pattern = std::max(0.0, s.spatialVariance);
    const double ofMeans = (4.0 * pattern * v + 2.0 * v * v) / (w - 1.0);
    const double ofNoise = 2.0 * s.temporalVariance * s.temporalVariance / (l * l * (l - 1.0) * w);
    return std::sqrt(ofMeans + ofNoise);
}

Figure Unmeasurable(const std::string& why) {
    Figure figure;
    figure.why = why;
    return figure;
}

// sqrt(variance) over `signal` (1 for gray levels), or a bound when the
// variance is below what its uncertainty resolves.
Figure SpreadFigure(double variance, double uncertainty, int32_t rows, double signal) {
    const double resolution = std::max(kResolvedDeviations * uncertainty, kQuantisationVariance / rows);
    Figure figure;
    if (variance < resolution) {
        figure.value = std::sqrt(std::max(0.0, variance) + resolution) / signal;
        figure.bound = true;
    } else {
        figure.value = std::sqrt(variance) / signal;
    }
    return figure;
}

Figure Prnu(const LineStatistics& flat, const LineStatistics& dark) {
    if (IsClipped(flat)) return Unmeasurable("the flat image is clipped");
    const double signal = flat.mean - dark.mean;
    if (!(signal > 0.0)) return Unmeasurable("the flat image is not brighter than the dark image");
    const double difference = flat.spatialVariance - dark.spatialVariance;
    const double uncertainty = std::hypot(flat.spatialVarianceUncertainty, dark.spatialVarianceUncertainty);
    if (difference < -kResolvedDeviations * uncertainty) {
        // The dark image varies more than the flat one, which no linear
        // response gives (a correction can): the flat's own spread still
        // bounds the figure, since the dark's is never negative.
        Figure figure = SpreadFigure(flat.spatialVariance, flat.spatialVarianceUncertainty, flat.rows, signal);
        figure.bound = true;
        return figure;
    }
    return SpreadFigure(difference, uncertainty, flat.rows, signal);
}

}  // namespace

LineStatistics MeasureLine(const cv::Mat& image, const std::vector<int32_t>& columns) {
    CheckImage(image);
    const std::vector<int32_t> measured = ColumnsToMeasure(image, columns);
    if (measured.size() < 2) {
        throw Error(ErrorReason::kImageUnusable, "a spatial variance needs 2 or more columns to measure");
    }
    int64_t low = 0, high = 0;
    const ColumnSums sums = SumColumns(image, measured, low, high);

    LineStatistics s;
    s.rows = image.rows;
    s.columns = static_cast<int32_t>(measured.size());
    const int64_t l = s.rows;
    const double pixels = static_cast<double>(l) * s.columns;
    int64_t total = 0;
    double temporal = 0.0;
    for (size_t i = 0; i < measured.size(); ++i) {
        total += sums.sum[i];
        // L * sum(x^2) - (sum x)^2 is exact in 64 bits.
        temporal += static_cast<double>(l * sums.squares[i] - sums.sum[i] * sums.sum[i]) /
                    static_cast<double>(l * (l - 1));
    }
    s.mean = static_cast<double>(total) / pixels;
    s.temporalVariance = temporal / s.columns;
    double spread = 0.0;
    for (size_t i = 0; i < measured.size(); ++i) {
        const double deviation = static_cast<double>(sums.sum[i]) / static_cast<double>(l) - s.mean;
        spread += deviation * deviation;
    }
    s.measuredSpatialVariance = spread / (s.columns - 1);
    s.spatialVariance = s.measuredSpatialVariance - s.temporalVariance / static_cast<double>(l);
    s.spatialVarianceUncertainty = SpatialVarianceUncertainty(s);
    s.clippedLow = static_cast<double>(low) / pixels;
    s.clippedHigh = static_cast<double>(high) / pixels;
    return s;
}

bool IsClipped(const LineStatistics& statistics) {
    return statistics.clippedLow > kMostClippedShare || statistics.clippedHigh > kMostClippedShare;
}

// A dark image clipped at 0 (a corrected one is, almost whole) hides what
// lies below the cut, but the image as delivered is what a user of the output
// gets: its spreads are measured as they are and given as bounds (at least the
// rounding's), so that a correction that flattens the dark reads "< 0.1 DN",
// never 0. Clipped at 255 it is no dark image at all. Its mean still serves
// PRNU, where a level near 0 matters little against a flat near half of
// saturation.
SensorFigures MeasureSensorFigures(const cv::Mat& flat, const cv::Mat& dark, const std::vector<int32_t>& columns) {
    if (flat.cols != dark.cols) {
        throw Error(ErrorReason::kImageUnusable, "the flat image has " + std::to_string(flat.cols) +
                                                     " columns and the dark image " + std::to_string(dark.cols) +
                                                     "; they must be of one sensor line");
    }
    SensorFigures figures;
    figures.flat = MeasureLine(flat, columns);
    figures.dark = MeasureLine(dark, columns);
    figures.prnu = Prnu(figures.flat, figures.dark);
    if (figures.dark.clippedHigh > kMostClippedShare) {
        figures.dsnu = Unmeasurable("the dark image is clipped at 255");
        figures.darkNoise = Unmeasurable("the dark image is clipped at 255");
        return figures;
    }
    const bool clippedLow = figures.dark.clippedLow > kMostClippedShare;
    figures.dsnu = SpreadFigure(figures.dark.spatialVariance, figures.dark.spatialVarianceUncertainty,
                                figures.dark.rows, 1.0);
    // A rounded signal shows no temporal noise finer than its own rounding.
    if (figures.dark.temporalVariance < kQuantisationVariance) {
        figures.darkNoise.value = std::sqrt(kQuantisationVariance);
        figures.darkNoise.bound = true;
    } else {
        figures.darkNoise.value = std::sqrt(figures.dark.temporalVariance);
        figures.darkNoise.bound = clippedLow;
    }
    figures.dsnu.bound = figures.dsnu.bound || clippedLow;
    return figures;
}

int NearestHalfSaturation(const std::vector<LineStatistics>& flats, const LineStatistics& dark) {
    const double half = (255.0 - dark.mean) / 2.0;
    int nearest = -1;
    double nearestDistance = 0.0;
    for (size_t i = 0; i < flats.size(); ++i) {
        if (IsClipped(flats[i])) continue;
        const double distance = std::fabs(flats[i].mean - dark.mean - half);
        if (nearest < 0 || distance < nearestDistance) {
            nearest = static_cast<int>(i);
            nearestDistance = distance;
        }
    }
    return nearest;
}

std::string FormatFigure(const Figure& figure, bool percent, int decimals) {
    if (std::isnan(figure.value)) return "n/a";
    decimals = std::max(0, std::min(decimals, 9));
    double value = percent ? figure.value * 100.0 : figure.value;
    if (figure.bound) {
        const double scale = std::pow(10.0, decimals);
        value = std::ceil(value * scale - 1e-9) / scale;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s%.*f%s", figure.bound ? "< " : "", decimals, value, percent ? "%" : " DN");
    return text;
}

}  // namespace vyrffc
