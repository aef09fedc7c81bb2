// A simulated contact image sensor (CIS) line camera looking at a uniform
// white target: writes calibration folders of 8-bit BMPs for the tests, the
// demo and the benchmarks. Reproducible from a seed on any machine.
#ifndef CIS_SIMULATOR_H
#define CIS_SIMULATOR_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace cissim {

struct SimulatorOptions {
    int width = 2048;     // sensor columns
    int height = 16;      // rows (lines) per image
    int levels = 48;      // calibration light levels, from dark to beyond saturation
    int chips = 8;        // sensor chips side by side
    int darkColumns = 6;  // columns whose raw value stays 0 over several low levels
    uint32_t seed = 1;
};

// Per-column parameters of one simulated module (chip offsets and gains, PRNU,
// DSNU, light fall-off, ripple, nonlinearity, dark columns).
struct CisCamera {
    SimulatorOptions options;
    std::vector<double> columnGain;     // total linear gain of each column
    std::vector<double> columnOffset;   // total offset of each column, gray levels
    std::vector<double> darkThreshold;  // light below which a dark column reads 0; 0 for normal columns
    double nonlinearity = 0.0;          // mild compression towards saturation
    double temporalNoise = 0.0;         // standard deviation of the per-pixel noise
};

CisCamera MakeCamera(const SimulatorOptions& options);

// The light levels of the calibration folder, in gray levels that an ideal
// column would show, rising from dark to beyond saturation.
std::vector<double> CalibrationLightLevels(const SimulatorOptions& options);

// One flat image of the target at the given light, with temporal noise drawn
// from `frameSeed`; clipped to 0..255.
cv::Mat RenderFlatImage(const CisCamera& camera, double light, uint64_t frameSeed);

// Writes one image per calibration light level into `folder` (created if
// missing) and returns the paths written, in listing order.
std::vector<std::string> WriteCalibrationFolder(const std::string& folder, const SimulatorOptions& options);

// Writes `count` flat images at light levels between the calibration levels
// (not part of the calibration set) and returns their paths.
std::vector<std::string> WriteHeldOutImages(const std::string& folder, const SimulatorOptions& options, int count);

// The files a real folder may hold beside the calibration images.
enum class Decoy { WrongSize, NotAnImage, Colour };

// Writes one decoy named *.bmp into `folder` and returns its path.
std::string WriteDecoy(const std::string& folder, Decoy decoy, const SimulatorOptions& options);

}  // namespace cissim

#endif  // CIS_SIMULATOR_H
