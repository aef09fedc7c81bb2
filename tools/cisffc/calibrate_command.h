// cisffc calibrate: a calibration from a folder of images, its summary, and
// optionally the calibration file and every result as JSON.
#ifndef CISFFC_CALIBRATE_COMMAND_H
#define CISFFC_CALIBRATE_COMMAND_H

#include <string>

#include <string>
#include <vector>

#include "calibration_options.h"

namespace cisffc {

struct CalibrateCommand {
    std::string folder;
    CalibrationOptions calibration;
    std::string jsonPath;  // "-": standard output
    std::string savePath;  // the calibration file
    std::string cameraModel;
    std::string cameraSerial;
    std::vector<std::string> notes;  // KEY=VALUE
    bool strict = false;   // a warning on the calibration set fails the run
};

void AddCalibrateOptions(CLI::App& command, CalibrateCommand& options);
int RunCalibrate(const CalibrateCommand& command);

}  // namespace cisffc

#endif  // CISFFC_CALIBRATE_COMMAND_H
