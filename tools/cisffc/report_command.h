// cisffc report: flat images corrected with a calibration, their column
// non-uniformity, PRNU and DSNU before and after, as text, a table and a
// picture.
#ifndef CISFFC_REPORT_COMMAND_H
#define CISFFC_REPORT_COMMAND_H

#include <string>

#include "calibration_options.h"

namespace cisffc {

struct ReportCommand {
    std::string folder;  // empty with a calibration file
    std::string calibrationFile;
    std::string heldOutFolder;  // empty: DIR/heldout/ when it holds images, else the calibration images
    std::string darkImage;      // empty: the dark image beside the flat images, if any
    std::string outPath;
    std::string csvPath;  // empty: no table file
    std::string maxPrnu;           // acceptance limits in %, as typed; empty: none
    std::string maxNonUniformity;
    CalibrationOptions calibration;
    std::string mode;
    std::string test;
};

void AddReportOptions(CLI::App& command, ReportCommand& options);
int RunReport(const ReportCommand& command);

}  // namespace cisffc

#endif  // CISFFC_REPORT_COMMAND_H
