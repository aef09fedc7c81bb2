// The exposures of a calibration series: from the camera's shortest exposure
// (black, or nearly) to somewhat beyond the first exposure at which the
// reference columns saturate, in even steps, so that the levels cross the
// whole gray scale as a run needs them: evenly through the range its fits
// use, and several images at saturation for the columns that reach it last.
#ifndef CISFFC_EXPOSURE_PLAN_H
#define CISFFC_EXPOSURE_PLAN_H

#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "camera/camera.h"

namespace cisffc {

// The gray level the reference columns (the middle fifth of the line, as the
// runs take them by default) show in one 8-bit image.
double ReferenceLevel(const cv::Mat& image);

// A reference level at or above this counts as saturated.
constexpr double kSaturatedLevel = 254.0;
// The shortest exposure must show no more than this: the runs fit from
// gray 35 up, and want levels below that too.
constexpr double kBlackCeiling = 30.0;
// The last level lies this much beyond the first saturated exposure, so that
// the ends of the line, where the light falls off, saturate as well.
constexpr double kBeyondSaturation = 1.2;

struct ExposurePlan {
    double shortest = 0.0;        // the camera's shortest exposure, us
    double blackLevel = 0.0;      // the reference level there
    double saturation = 0.0;      // the first exposure found with the reference saturated, us
    std::vector<double> levels;   // the exposures of the series, rising, as the camera took them
};

// Finds the exposure range with `level` (the reference level of a frame at an
// exposure the camera has taken) and steps it into `count` levels. A range the
// camera cannot cover ends the command: the light too strong for the shortest
// exposure, too weak for the longest, or a saturation reached within too few
// of the camera's exposure steps.
//   setExposure(us) returns the exposure taken; level() grabs at it.
ExposurePlan PlanExposures(double shortest, double longest, int count,
                           const std::function<double(double)>& setExposure, const std::function<double()>& level);

// The same on a camera, one frame of `lines` rows per probe.
ExposurePlan PlanExposures(Camera& camera, int count, int settle, int timeoutMs);

// The 8-bit image of `count` summed frames: each pixel's mean, rounded half up.
cv::Mat AverageFrames(const cv::Mat& sum, int count);

}  // namespace cisffc

#endif  // CISFFC_EXPOSURE_PLAN_H
