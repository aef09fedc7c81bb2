// The calibration report: tables of non-uniformity before and after
// correction, the sensor figures camera makers quote, and one picture of it.
#ifndef CISFFC_REPORT_H
#define CISFFC_REPORT_H

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "uniformity.h"

namespace cisffc {

// One row per flat image: level, non-uniformity and peak-to-peak, raw and
// corrected, with the images inside the fitting range marked and clipped
// images named as such.
void PrintLevelTable(std::ostream& out, const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome);

// The sensor figures (PRNU, DSNU, temporal dark noise) as EMVA 1288 defines
// them for a line sensor: one row for the raw images, one per outcome, and
// the simulator's true values when `truth` is given; the flat and dark images
// they come from are named, figures that cannot be measured are explained.
void PrintSensorFigures(std::ostream& out, const std::vector<FlatImage>& flats,
                        const std::vector<CorrectionOutcome>& outcomes, const std::string& darkName,
                        const vyrffc::SensorFigures* truth = nullptr);

// One row per run and mode: mean non-uniformity inside the fitting range,
// raw and corrected, their ratio, the corrected PRNU, the images it could not
// correct and the time each step took.
void PrintComparisonTable(std::ostream& out, const std::vector<CorrectionOutcome>& outcomes);

// The line naming the best of the outcomes (BestOutcome): the lowest mean
// non-uniformity inside the fitting range among those that corrected every
// image.
std::string BestModeLine(const std::vector<CorrectionOutcome>& outcomes);

// Two tables as comma-separated values, one blank line apart: one row per
// flat image and one for the dark image (whose non-uniformity, a spread over
// a level near 0, is left empty); then one row for the raw images and one
// per compared outcome with its non-uniformity and sensor figures.
std::string ReportCsv(const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome,
                      const std::string& darkName, const std::vector<CorrectionOutcome>& compared);

// Acceptance limits, fractions; NaN: no limit.
struct AcceptanceLimits {
    double maxPrnu = std::numeric_limits<double>::quiet_NaN();
    double maxNonUniformity = std::numeric_limits<double>::quiet_NaN();
    bool Any() const { return !std::isnan(maxPrnu) || !std::isnan(maxNonUniformity); }
};

// "1%", "1" (both percent) or "0.5 %" as a fraction; anything else is a usage
// error naming the option.
double ParsePercentLimit(const std::string& text, const std::string& optionName);

// The outcome against the limits: the corrected PRNU and the mean
// non-uniformity inside the fitting range, one check per limit ("PRNU 1.23%
// > 1%"). A figure that cannot be measured misses its limit; a bound meets
// it when the bound does.
struct AcceptanceCheck {
    std::string text;
    bool passed = false;
};

std::vector<AcceptanceCheck> CheckAcceptance(const CorrectionOutcome& outcome, const AcceptanceLimits& limits);

// Column profiles of a few levels before and after the correction of
// outcomes[profileOutcome], what is left of them after it (flagged dark
// columns marked), non-uniformity (fitting range shaded) and peak-to-peak
// versus level for the raw images and every outcome, and the summary figures
// of outcomes[profileOutcome] with `notes` below them; `role` says why that
// outcome is the one shown ("the mode applied"). The footer runs along the
// bottom.
cv::Mat DrawReport(const std::string& title, const std::vector<FlatImage>& flats,
                   const std::vector<CorrectionOutcome>& outcomes, size_t profileOutcome, const std::string& footer,
                   const std::string& role, const std::vector<std::string>& notes);

// A number with this many decimals, as the command summaries print times and
// rates.
std::string Fixed(double value, int decimals);

}  // namespace cisffc

#endif  // CISFFC_REPORT_H
