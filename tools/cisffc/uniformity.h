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

struct FlatImage {
    std::string name;
    cv::Mat raw;
    std::vector<float> columnMeans;
};

// Reads flat images of the calibration's width; one it cannot correct ends
// the command, naming it.
std::vector<FlatImage> LoadFlatImages(const std::vector<std::string>& paths, int32_t width);

std::vector<float> ColumnMeans(const cv::Mat& image);

struct Uniformity {
    double mean = 0.0;
    double deviation = 0.0;      // standard deviation of the column means
    double nonUniformity = 0.0;  // deviation / mean, a fraction
    double peakToPeak = 0.0;
    // More than 2% of the columns read 255 in every row: the spread left is
    // the clipping's, not the columns'.
    bool clipped = false;
};

Uniformity MeasureUniformity(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns);

// The exclusive bounds of the raw gray values a calibration fitted rather
// than extrapolated: the low/high runs keep theirs; the segmented run fits
// every level, and the tool takes the range every low/high run covers.
struct GrayRange {
    float low = 35.0f;
    float high = 180.0f;
};

GrayRange FittingRange(const vyrffc::Results& results);

// The columns whose raw mean lies inside the range.
std::vector<int32_t> ColumnsInFittingRange(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns,
                                           GrayRange range);

// True when at least 98% of the columns lie inside the range; the few dark or
// edge columns do not take a level out.
bool InFittingRange(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns, GrayRange range);

// One calibration and one correction mode applied to every flat image.
struct CorrectionOutcome {
    std::string label;  // e.g. "current mode 1"
    int32_t mode = -1;  // the mode corrected in; -1 for the tool's own two-piece evaluation
    double calibrationSeconds = 0.0;
    double correctionSeconds = 0.0;
    std::vector<int32_t> columns;     // the columns measured: those the calibration covers
    GrayRange fittingRange;
    std::vector<int32_t> flaggedColumns;  // columns the calibration flagged as dark
    std::vector<Uniformity> raw;      // per flat image
    std::vector<Uniformity> corrected;
    std::vector<bool> inRange;
    // The same over the columns inside the fitting range only.
    std::vector<Uniformity> rawFitted;
    std::vector<Uniformity> correctedFitted;
    std::vector<std::vector<float>> correctedMeans;
    std::string failure;  // the first correction error, when a mode could not run on some image
    int failures = 0;     // images (the dark one included) the mode could not correct
    // The dark image before and after, when there is one.
    bool hasDark = false;
    Uniformity rawDark;
    Uniformity correctedDark;
    // The sensor figures before and after, from the flat image nearest half
    // of saturation (figureFlat, -1: none) and the dark image.
    int figureFlat = -1;
    vyrffc::SensorFigures rawFigures;
    vyrffc::SensorFigures correctedFigures;
};

CorrectionOutcome EvaluateCorrection(const Calibration& calibration, TestFunction test, int32_t mode,
                                     const std::vector<FlatImage>& flats, const FlatImage* dark = nullptr);

// The quadratic two-piece fits of a segmented run, evaluated by the tool
// itself (the library hands them out as data only).
CorrectionOutcome EvaluateTwoPieces(const Calibration& calibration, const std::vector<FlatImage>& flats);

// Mean figures over the flat images inside the fitting range, measured over
// the columns inside it; `correctedAllColumns` counts every column. Images
// clipped after correction are counted apart and left out of the means.
struct OutcomeSummary {
    int images = 0;
    int clipped = 0;
    double rawNonUniformity = 0.0;
    double correctedNonUniformity = 0.0;
    double worstCorrected = 0.0;
    double correctedPeakToPeak = 0.0;
    double correctedAllColumns = 0.0;
};

OutcomeSummary Summarize(const CorrectionOutcome& outcome);

// Of the outcomes that corrected every image, the one with the lowest mean
// non-uniformity inside the fitting range; -1 when none did.
int BestOutcome(const std::vector<CorrectionOutcome>& outcomes);

// The images of a calibration folder that the run used: those of its image
// size that read as 8-bit gray; the others are passed over, as the run did.
std::vector<FlatImage> LoadCalibrationImages(const std::string& folder, const vyrffc::Results& results);

// The mode as tables show it: its number.
using vyrffc::kDefaultMode;
std::string ModeName(int32_t mode);

}  // namespace cisffc

#endif  // CISFFC_UNIFORMITY_H
