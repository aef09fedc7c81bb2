// A simulated contact image sensor (CIS) line camera looking at a uniform
// white target: writes calibration folders of 8-bit BMPs for the tests, the
// demo and the benchmarks. Reproducible from a seed on any machine: every
// random number comes from std::mt19937 through this library's own
// distributions, never through the std:: distributions, whose algorithms
// differ between standard libraries.
//
// The model, per column c at light L (in the gray levels an ideal column
// would show):
//   signal   = L * columnGain[c] * (1 + columnRipple[c])
//   response = signal * (1 - nonlinearity * signal / 255)
//   mean     = response + columnOffset[c]
//   pixel    = mean + temporal noise, rounded and clipped to 0..255
// columnGain holds the chip gain, the per-column gain spread (PRNU) and the
// fall-off of the light towards the ends of the line; columnOffset the chip
// offset and the per-column offset spread (DSNU). columnRipple is a fine
// alternation inside each chip (half periods of 4 to 6 columns), so its
// amplitude in gray levels grows with the light until the column clips at 255.
// Dark columns carry a negative offset that holds them at 0 until the light
// passes their darkThreshold.
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
    std::vector<int> chipFirstColumn;   // first column of each chip; chip k ends where chip k+1 starts
    std::vector<double> chipGain;       // gain of each chip
    std::vector<double> chipOffset;     // offset of each chip, gray levels
    std::vector<double> columnGain;     // total linear gain of each column
    std::vector<double> columnOffset;   // total offset of each column, gray levels
    std::vector<double> columnRipple;   // relative deviation of each column's signal, alternating inside a chip
    std::vector<double> darkThreshold;  // light below which a dark column reads 0; 0 for normal columns
    double nonlinearity = 0.0;          // mild compression towards saturation
    double temporalNoise = 0.0;         // standard deviation of the per-pixel noise in the dark
    std::vector<float> normalTable;     // standard normal deviates that the per-pixel noise draws from
};

CisCamera MakeCamera(const SimulatorOptions& options);

// The light levels of the calibration folder, in gray levels that an ideal
// column would show, rising evenly from 0 (dark) to well beyond the light that
// saturates every column: the last several images are almost entirely 255.
std::vector<double> CalibrationLightLevels(const SimulatorOptions& options);

// The mean of every column at the given light before noise, rounding and
// clipping (negative for a dark column below its threshold).
std::vector<double> ExpectedColumnValues(const CisCamera& camera, double light);

// One flat image of the target at the given light, with temporal noise drawn
// from `frameSeed`; clipped to 0..255.
cv::Mat RenderFlatImage(const CisCamera& camera, double light, uint64_t frameSeed);

// Writes one image per calibration light level into `folder` (created if
// missing; a trailing separator is optional) and returns the paths written, in
// listing order: "level_000.bmp", "level_001.bmp", ... (zero-padded, so the
// names list in level order).
std::vector<std::string> WriteCalibrationFolder(const std::string& folder, const SimulatorOptions& options);

// The lights of the `count` held-out images, in the order written.
std::vector<double> HeldOutLightLevels(const SimulatorOptions& options, int count);

// The sensor figures of the module as EMVA 1288 defines them, from its
// parameters rather than from images: the figures' formulas applied to the
// column means before noise (clipped to 0..255 as pixels are) of a flat image
// at `light` and of a dark image, over `columns`; the dark noise is the
// temporal noise of the dark pixels, with the 1/12 DN^2 of rounding to whole
// gray levels added (a pixel held at 0 adds none).
struct TrueFigures {
    double prnu = 0.0;       // fraction
    double dsnu = 0.0;       // gray levels
    double darkNoise = 0.0;  // gray levels
};

TrueFigures TrueSensorFigures(const CisCamera& camera, double light, const std::vector<int32_t>& columns);

// Writes `count` flat images named "heldout_00.bmp", ... at lights spread over
// mid-gray levels (about 55 to 195), each halfway between two calibration
// levels, in rising order, and
// returns their paths. Give it a folder other than the calibration folder:
// a run reads every "*.bmp" of its folder.
std::vector<std::string> WriteHeldOutImages(const std::string& folder, const SimulatorOptions& options, int count);

// Writes "dark.bmp", an image taken with no light, into `folder` and returns
// its path: the dark reference of the sensor figures measured on flat images.
std::string WriteDarkImage(const std::string& folder, const SimulatorOptions& options);

// The files a real folder may hold beside the calibration images.
enum class Decoy {
    WrongSize,   // a flat image of half the width: "decoy_wrong_size.bmp"
    NotAnImage,  // a text file: "decoy_not_an_image.bmp"
    Colour,      // a 3-channel flat image of the right size, equal channels: "decoy_colour.bmp"
};

// Writes one decoy named *.bmp into `folder` and returns its path.
std::string WriteDecoy(const std::string& folder, Decoy decoy, const SimulatorOptions& options);

}  // namespace cissim

#endif  // CIS_SIMULATOR_H
