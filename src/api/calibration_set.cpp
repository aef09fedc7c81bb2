// The verdict on a calibration set: coverage of the fitting range, clipped
// images, scenes in place of a flat target, flagged columns and the residual
// non-uniformity of the set corrected through its own calibration, and that
// residual kept with the calibration for later checks of the camera.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_state.h"

namespace vyrffc {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Fewer levels inside the range than this leave a cubic (4 coefficients) per
// column too few points to average its noise over.
constexpr int32_t kFewestLevels = 8;
// Levels spanning less than this share of the range leave the fits to guess
// the rest of it.
constexpr double kNarrowestSpan = 0.5;
// A gap wider than this share of the range lets a fit bend freely inside it.
constexpr double kWidestGap = 0.25;
// No level within this share of the range from an end: the fits extrapolate
// there.
constexpr double kNearEnd = 0.1;
// Beyond this share of clipped images the set holds more saturation than
// light levels.
constexpr double kMostClippedImages = 0.5;
// A flagged column is mapped from its dark range only; more than this share
// of the line says the sensor or the lighting is at fault.
constexpr double kMostFlaggedShare = 0.01;
// On a good simulated set the low/high runs leave their own images about 0.2%
// non-uniform and the segmented run (mode 1) about 1.2%; a set left at twice
// the worst of these did not calibrate well.
constexpr double kMostResidualNonUniformity = 0.02;
// Temporal noise is independent from pixel to pixel, so on a flat target the
// changes from row to row of neighbouring columns are uncorrelated (simulated
// flats stay within +-0.1); a scene moving under the line changes
// neighbouring columns together (simulated frames give 0.98 and more).
constexpr double kSceneCorrelation = 0.5;
// Below this many neighbouring pairs of pixels a correlation of noise alone
// (spread about 1 / sqrt(pairs)) could pass kSceneCorrelation.
constexpr double kFewestPairs = 64;

std::string Number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Percent(double fraction) { return Number(100.0 * fraction, 2) + "%"; }

// The correlation between neighbouring measured columns of each pixel's
// departure from its column mean, with each row's own mean departure (a
// flicker of the light) taken out first. NaN when nothing changes or too few
// measured columns are neighbours.
double RowCorrelation(const cv::Mat& image, const std::vector<int32_t>& columns) {
    const size_t w = columns.size();
    std::vector<double> columnMean(w, 0.0);
    for (int r = 0; r < image.rows; ++r) {
        const uint8_t* row = image.ptr<uint8_t>(r);
        for (size_t i = 0; i < w; ++i) columnMean[i] += row[columns[i]];
    }
    for (double& mean : columnMean) mean /= image.rows;
    std::vector<double> departure(w);
    double products = 0.0, squaresLeft = 0.0, squaresRight = 0.0, pairs = 0.0;
    for (int r = 0; r < image.rows; ++r) {
        const uint8_t* row = image.ptr<uint8_t>(r);
        double rowMean = 0.0;
        for (size_t i = 0; i < w; ++i) {
            departure[i] = row[columns[i]] - columnMean[i];
            rowMean += departure[i];
        }
        rowMean /= static_cast<double>(w);
        for (double& d : departure) d -= rowMean;
        for (size_t i = 0; i + 1 < w; ++i) {
            if (columns[i + 1] != columns[i] + 1) continue;
            products += departure[i] * departure[i + 1];
            squaresLeft += departure[i] * departure[i];
            squaresRight += departure[i + 1] * departure[i + 1];
            pairs += 1.0;
        }
    }
    if (pairs < kFewestPairs || !(squaresLeft > 0.0 && squaresRight > 0.0)) return kNaN;
    return products / std::sqrt(squaresLeft * squaresRight);
}

// The low/high runs report their fitting range; the segmented run fits every
// level below where a column clips.
void ChooseRange(const Results& results, CalibrationSetVerdict& verdict) {
    if (results.run == CalibrationRun::kSegmented) {
        verdict.rangeLow = 0.0;
        verdict.rangeHigh = 255.0;
    } else {
        verdict.rangeLow = results.fitLowBound;
        verdict.rangeHigh = results.fitHighBound;
    }
}

int ResidualMode(const Calibration& calibration) {
    return DefaultMode(calibration.results().run, calibration.generation());
}

// The spatial spread of the corrected line over its level, the temporal noise
// taken out; NaN when the correction refuses the image or leaves it clipped.
double ResidualNonUniformity(const Calibration& calibration, const cv::Mat& image, int mode,
                             const std::vector<int32_t>& columns) {
    if (columns.size() < 2) return kNaN;
    cv::Mat corrected;
    try {
        calibration.Correct(image, corrected, mode, 1);
    } catch (const Error&) {
        return kNaN;
    }
    const LineStatistics s = MeasureLine(corrected, columns);
    if (IsClipped(s) || !(s.mean > 0.0)) return kNaN;
    return std::sqrt(std::max(0.0, s.spatialVariance)) / s.mean;
}

CalibrationImageAssessment AssessImage(const Calibration& calibration, const cv::Mat& image, int32_t index,
                                       const CalibrationSetVerdict& verdict, const std::vector<int32_t>& residualColumns) {
    const Results& results = calibration.results();
    CalibrationImageAssessment a;
    a.index = index;
    const LineStatistics reference = MeasureReference(results, image);
    a.level = reference.mean;
    a.inside = a.level > verdict.rangeLow && a.level < verdict.rangeHigh;
    a.clipped = IsClipped(reference);
    a.rowCorrelation = RowCorrelation(image, results.referenceColumns);
    a.sceneLike = a.rowCorrelation > kSceneCorrelation;
    if (a.inside && !a.clipped) {
        a.residualNonUniformity = ResidualNonUniformity(calibration, image, verdict.correctionMode, residualColumns);
    }
    return a;
}

// The median, not the mean: in the dimmest images the rounding of a low
// output level alone gives several percent, which would drown what the set
// tells of every other level. NaN for no value.
double Median(std::vector<double> values) {
    if (values.empty()) return kNaN;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

void SummariseLevels(CalibrationSetVerdict& v) {
    std::vector<double> inside;
    for (const CalibrationImageAssessment& a : v.images) {
        if (a.inside) inside.push_back(a.level);
    }
    std::sort(inside.begin(), inside.end());
    v.levelsInside = static_cast<int32_t>(inside.size());
    const double width = v.rangeHigh - v.rangeLow;
    if (inside.empty()) {
        v.lowestInside = v.highestInside = kNaN;
        v.extrapolatesLow = v.extrapolatesHigh = true;
        return;
    }
    v.lowestInside = inside.front();
    v.highestInside = inside.back();
    for (size_t i = 1; i < inside.size(); ++i) v.largestGap = std::max(v.largestGap, inside[i] - inside[i - 1]);
    v.extrapolatesLow = v.lowestInside - v.rangeLow > kNearEnd * width;
    v.extrapolatesHigh = v.rangeHigh - v.highestInside > kNearEnd * width;
}

void SummariseImages(const Calibration& calibration, CalibrationSetVerdict& v) {
    std::vector<double> residuals;
    for (const CalibrationImageAssessment& a : v.images) {
        v.clippedImages += a.clipped;
        v.sceneLikeImages += a.sceneLike;
        if (!std::isnan(a.residualNonUniformity)) residuals.push_back(a.residualNonUniformity);
    }
    v.residualNonUniformity = Median(residuals);
    const std::vector<int32_t>& flags = calibration.results().columnFlags;
    const int64_t flagged = std::count(flags.begin(), flags.end(), -1);
    const int32_t width = calibration.results().imageWidth;
    v.flaggedShare = width > 0 ? static_cast<double>(flagged) / width : 0.0;
}

void Warn(CalibrationSetVerdict& v) {
    const std::string range = Number(v.rangeLow, 1) + " to " + Number(v.rangeHigh, 1);
    const double width = v.rangeHigh - v.rangeLow;
    const int32_t count = static_cast<int32_t>(v.images.size());
    if (v.sceneLikeImages > 0) {
        v.warnings.push_back(std::to_string(v.sceneLikeImages) + " of " + std::to_string(count) +
                             " images change from row to row like a scene, not a flat target: calibrate from "
                             "images of a uniform target");
    }
    if (v.levelsInside < kFewestLevels || v.highestInside - v.lowestInside < kNarrowestSpan * width) {
        const std::string span = v.levelsInside > 0 ? ", spanning " + Number(v.lowestInside, 1) + " to " +
                                                          Number(v.highestInside, 1)
                                                    : "";
        v.warnings.push_back(std::to_string(v.levelsInside) + " levels lie inside the fitting range " + range +
                             span + ": add images from dark to saturation");
    } else if (v.largestGap > kWidestGap * width) {
        v.warnings.push_back("the levels inside the fitting range " + range + " leave a gap of " +
                             Number(v.largestGap, 1) + ": add images of levels in between");
    }
    if (v.levelsInside > 0 && (v.extrapolatesLow || v.extrapolatesHigh)) {
        const char* ends = v.extrapolatesLow && v.extrapolatesHigh ? "both ends"
                           : v.extrapolatesLow                     ? "the dark end"
                                                                   : "the bright end";
        v.warnings.push_back(std::string("no level lies near ") + ends + " of the fitting range " + range +
                             ": the fits extrapolate there; add images of those levels");
    }
    if (v.clippedImages > kMostClippedImages * count) {
        v.warnings.push_back(std::to_string(v.clippedImages) + " of " + std::to_string(count) +
                             " images are clipped at the reference columns: lower the light or the exposure "
                             "for more of them");
    }
    if (v.flaggedShare > kMostFlaggedShare) {
        v.warnings.push_back(Percent(v.flaggedShare) +
                             " of the columns respond only above a dark threshold: check the sensor and the "
                             "lighting of the target");
    }
    if (v.residualNonUniformity > kMostResidualNonUniformity) {
        v.warnings.push_back("the set corrected through this calibration stays " +
                             Percent(v.residualNonUniformity) +
                             " non-uniform: check that the target is uniform and the light steady");
    }
    if (v.skippedImages > 0) {
        v.warnings.push_back(std::to_string(v.skippedImages) +
                             " images are not 8-bit gray of the calibration's size and were not judged");
    }
}

}  // namespace

// A single column's level and clipping are those of it listed twice, and
// MeasureLine wants two columns for its spread.
LineStatistics MeasureReference(const Results& results, const cv::Mat& image) {
    std::vector<int32_t> columns = results.referenceColumns;
    if (columns.size() == 1) columns.push_back(columns.front());
    return MeasureLine(image, columns);
}

// The flagged columns are left out because the flagged share already counts
// them.
std::vector<int32_t> ResidualColumns(const Results& results) {
    if (results.run == CalibrationRun::kSegmented) return results.referenceColumns;
    std::vector<int32_t> columns;
    for (int32_t c = 0; c < results.imageWidth; ++c) {
        if (static_cast<size_t>(c) >= results.columnFlags.size() || results.columnFlags[c] != -1) columns.push_back(c);
    }
    return columns;
}

CalibrationSetVerdict AssessCalibrationSet(const Calibration& calibration, const std::vector<cv::Mat>& images) {
    const Results& results = calibration.results();
    CalibrationSetVerdict verdict;
    ChooseRange(results, verdict);
    verdict.correctionMode = ResidualMode(calibration);
    const std::vector<int32_t> residualColumns = ResidualColumns(results);
    for (size_t i = 0; i < images.size(); ++i) {
        const cv::Mat& image = images[i];
        if (image.type() != CV_8UC1 || image.rows != results.imageHeight || image.cols != results.imageWidth ||
            image.rows < 2) {
            ++verdict.skippedImages;
            continue;
        }
        verdict.images.push_back(AssessImage(calibration, image, static_cast<int32_t>(i), verdict, residualColumns));
    }
    if (verdict.images.empty()) {
        throw Error(ErrorReason::kTooFewImages, "no image of the calibration's size " +
                                                    std::to_string(results.imageWidth) + " x " +
                                                    std::to_string(results.imageHeight) + " to judge the set by");
    }
    SummariseLevels(verdict);
    SummariseImages(calibration, verdict);
    Warn(verdict);
    return verdict;
}

Calibration KeepSetResiduals(const Calibration& calibration, const CalibrationSetVerdict& verdict) {
    // Rounded to the file's floats first, so that two images that differ
    // only below a float's precision count as one level.
    std::vector<LevelResidual> kept;
    for (const CalibrationImageAssessment& a : verdict.images) {
        if (!std::isnan(a.residualNonUniformity)) {
            kept.push_back({static_cast<float>(a.level), static_cast<float>(a.residualNonUniformity)});
        }
    }
    std::sort(kept.begin(), kept.end(),
              [](const LevelResidual& a, const LevelResidual& b) { return a.level < b.level; });
    std::vector<LevelResidual> levels;
    for (size_t i = 0; i < kept.size();) {
        size_t end = i;
        double sum = 0.0;
        for (; end < kept.size() && kept[end].level == kept[i].level; ++end) sum += kept[end].nonUniformity;
        levels.push_back({kept[i].level, static_cast<float>(sum / static_cast<double>(end - i))});
        i = end;
    }
    Results results = calibration.results();
    results.setResiduals = std::move(levels);
    return MakeCalibration(std::move(results));
}

double SetResidualAt(const Results& results, double level) {
    const std::vector<LevelResidual>& kept = results.setResiduals;
    const auto above = std::lower_bound(kept.begin(), kept.end(), level,
                                        [](const LevelResidual& r, double l) { return r.level < l; });
    if (above == kept.end() || std::isnan(level)) return kNaN;
    if (above->level == level) return above->nonUniformity;
    if (above == kept.begin()) return kNaN;
    const LevelResidual& below = *(above - 1);
    const double t = (level - below.level) / (static_cast<double>(above->level) - below.level);
    return below.nonUniformity + t * (static_cast<double>(above->nonUniformity) - below.nonUniformity);
}

}  // namespace vyrffc
