// The calibration report: tables of non-uniformity before and after
// correction, the sensor figures camera makers quote, and one picture of it.
#ifndef CISFFC_REPORT_H
#define CISFFC_REPORT_H

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

// The same table as comma-separated values, one row per flat image and one
// for the dark image when there is one.
std::string LevelTableCsv(const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome,
                          const std::string& darkName);

// PRNU and DSNU before and after correction, from the flat image nearest half
// of saturation and the dark image; a note when there is no dark image.
void PrintSensorFigures(std::ostream& out, const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome,
                        const std::string& darkName);

// One row per run and mode: mean non-uniformity inside the fitting range,
// raw and corrected, their ratio and the time each step took.
void PrintComparisonTable(std::ostream& out, const std::vector<CorrectionOutcome>& outcomes);

// Column profiles of a few levels before and after the correction of
// outcomes[profileOutcome], what is left of them after it (flagged dark
// columns marked), non-uniformity (fitting range shaded) and peak-to-peak
// versus level for the raw images and every outcome, and the summary figures
// of outcomes[profileOutcome]; the footer runs along the bottom.
cv::Mat DrawReport(const std::string& title, const std::vector<FlatImage>& flats,
                   const std::vector<CorrectionOutcome>& outcomes, size_t profileOutcome, const std::string& footer);

// A number with this many decimals, as the command summaries print times and
// rates.
std::string Fixed(double value, int decimals);

}  // namespace cisffc

#endif  // CISFFC_REPORT_H
