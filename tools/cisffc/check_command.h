// cisffc check: frames of the white target from a running camera, corrected
// with its calibration, measured against limits: whether the camera still
// matches its calibration or needs a new one.
#ifndef CISFFC_CHECK_COMMAND_H
#define CISFFC_CHECK_COMMAND_H

#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace cisffc {

struct CheckCommand {
    std::string camera;
    std::string calibrationPath;
    std::string mode;         // empty: the calibration's default mode
    std::string test;         // empty: the run's own test function
    double exposure = 0.0;    // us; 0: as the camera is set
    int frames = 8;
    std::string darkPath;  // for PRNU; empty: a dark line of 0
    int settle = 1;
    int timeoutMs = 5000;
    std::string maxNonUniformity;  // "0.5%"; empty: no limit
    std::string maxPrnu;
};

void AddCheckOptions(CLI::App& command, CheckCommand& options);
int RunCheck(const CheckCommand& command);

}  // namespace cisffc

#endif  // CISFFC_CHECK_COMMAND_H
