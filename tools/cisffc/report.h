// The calibration report: tables of non-uniformity before and after
// correction, and one picture of it.
#ifndef CISFFC_REPORT_H
#define CISFFC_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "uniformity.h"

namespace cisffc {

// One row per flat image: level, non-uniformity and peak-to-peak, raw and
// corrected, with the images inside the fitting range marked.
void PrintLevelTable(std::ostream& out, const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome);

// One row per run and mode: mean non-uniformity inside the fitting range,
// raw and corrected, their ratio and the time each step took.
void PrintComparisonTable(std::ostream& out, const std::vector<CorrectionOutcome>& outcomes);

// Column profiles of a few levels before and after the correction of
// outcomes[profileOutcome], and non-uniformity and peak-to-peak versus level
// for the raw images and every outcome.
cv::Mat DrawReport(const std::string& title, const std::vector<FlatImage>& flats,
                   const std::vector<CorrectionOutcome>& outcomes, size_t profileOutcome);

}  // namespace cisffc

#endif  // CISFFC_REPORT_H
