// Column non-uniformity of flat images before and after correction: the
// standard deviation of the column means over their mean (the spatial
// non-uniformity figure camera makers quote) and the peak-to-peak spread of
// the column means.
#ifndef CISFFC_UNIFORMITY_H
#define CISFFC_UNIFORMITY_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "calibration.h"

namespace cisffc {

// Raw gray values every low/high run fits, whatever the folder: a flat image
// counts as inside the fitting range when nearly all its columns lie here.
constexpr float kFitRangeLow = 35.0f;   // exclusive
constexpr float kFitRangeHigh = 180.0f;  // exclusive

struct FlatImage {
    std::string name;
    cv::Mat raw;
    std::vector<float> columnMeans;
};

// Reads flat images (8-bit gray); an unreadable one ends the command.
std::vector<FlatImage> LoadFlatImages(const std::vector<std::string>& paths);

std::vector<float> ColumnMeans(const cv::Mat& image);

struct Uniformity {
    double mean = 0.0;
    double nonUniformity = 0.0;  // standard deviation / mean, a fraction
    double peakToPeak = 0.0;
};

Uniformity MeasureUniformity(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns);

// The columns whose raw mean lies strictly between kFitRangeLow and
// kFitRangeHigh: the values the calibration fitted rather than extrapolated.
std::vector<int32_t> ColumnsInFittingRange(const std::vector<float>& columnMeans,
                                           const std::vector<int32_t>& columns);

// True when at least 98% of the columns lie inside the fitting range; the few
// dark or edge columns do not take a level out.
bool InFittingRange(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns);

// One calibration and one correction mode applied to every flat image.
struct CorrectionOutcome {
    std::string label;  // e.g. "current mode 1"
    double calibrationSeconds = 0.0;
    double correctionSeconds = 0.0;
    std::vector<int32_t> columns;     // the columns measured: those the calibration covers
    std::vector<Uniformity> raw;      // per flat image
    std::vector<Uniformity> corrected;
    std::vector<bool> inRange;
    // The same over the columns inside the fitting range only.
    std::vector<Uniformity> rawFitted;
    std::vector<Uniformity> correctedFitted;
    std::vector<std::vector<float>> correctedMeans;
    std::string failure;  // the first correction error, when a mode could not run on some image
};

CorrectionOutcome EvaluateCorrection(const Calibration& calibration, TestFunction test, int32_t mode,
                                     const std::vector<FlatImage>& flats);

// The quadratic two-piece fits of a segmented run, evaluated by the tool
// itself (the library hands them out as data only).
CorrectionOutcome EvaluateTwoPieces(const Calibration& calibration, const std::vector<FlatImage>& flats);

// Mean figures over the flat images inside the fitting range, measured over
// the columns inside it; `correctedAllColumns` counts every column.
struct OutcomeSummary {
    int images = 0;
    double rawNonUniformity = 0.0;
    double correctedNonUniformity = 0.0;
    double worstCorrected = 0.0;
    double correctedPeakToPeak = 0.0;
    double correctedAllColumns = 0.0;
};

OutcomeSummary Summarize(const CorrectionOutcome& outcome);

// The mode names used in tables: "0", "1", ..., "default" for the test
// functions' fallback mode.
constexpr int32_t kDefaultMode = 7;
std::string ModeName(int32_t mode);
int32_t DefaultMode(RunKind run);

}  // namespace cisffc

#endif  // CISFFC_UNIFORMITY_H
