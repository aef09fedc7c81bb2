// cisffc capture: a calibration series and a dark image from a GenICam
// camera looking at the white target, written as a calibration folder, and
// optionally calibrated at once.
#ifndef CISFFC_CAPTURE_COMMAND_H
#define CISFFC_CAPTURE_COMMAND_H

#include <string>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

namespace cisffc {

struct CaptureCommand {
    std::string camera;  // id, serial or address; empty: the only camera found
    std::string folder;  // --out
    int width = 0;       // 0: the camera's widest region
    int lines = 16;
    int levels = 48;
    int average = 1;     // acquisitions summed into each level
    int settle = 1;      // frames dropped after each start, while a new exposure may not yet apply
    int timeoutMs = 5000;
    bool dark = false;            // ask on the terminal for the light to go off
    bool darkUnattended = false;  // wait for the light to go off by itself
    int darkTimeoutSeconds = 60;
    bool calibrate = false;
    std::string savePath;
    std::string jsonPath;
    std::vector<std::string> notes;  // KEY=VALUE, kept in the calibration with the camera's identity
    bool strict = false;             // a warning on the captured set fails the calibration
};

// CAMERA, --settle and --timeout, as capture and check both take them.
void AddCameraOptions(CLI::App& command, std::string& camera, int& settle, int& timeoutMs);

void AddCaptureOptions(CLI::App& command, CaptureCommand& options);
int RunCapture(const CaptureCommand& command);

}  // namespace cisffc

#endif  // CISFFC_CAPTURE_COMMAND_H
