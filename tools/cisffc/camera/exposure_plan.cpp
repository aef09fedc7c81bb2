#include "camera/exposure_plan.h"

#include <algorithm>
#include <cmath>

#include "report.h"
#include "tool_error.h"

namespace cisffc {

namespace {

// The bisection stops when the saturation is known to within this share of
// it: finer would only cost frames, the levels are spread over six times that.
constexpr double kSaturationPrecision = 0.01;
constexpr int kMaxProbes = 40;

std::string Microseconds(double exposure) { return Fixed(exposure, 1) + " us"; }

std::string Gray(double level) { return Fixed(level, 1); }

}  // namespace

double ReferenceLevel(const cv::Mat& image) {
    const int first = image.cols * 2 / 5;
    const int end = std::max(first + 1, image.cols * 3 / 5);
    double sum = 0.0;
    for (int r = 0; r < image.rows; ++r) {
        const uint8_t* row = image.ptr<uint8_t>(r);
        for (int c = first; c < end; ++c) sum += row[c];
    }
    return sum / (static_cast<double>(end - first) * image.rows);
}

cv::Mat AverageFrames(const cv::Mat& sum, int count) {
    cv::Mat image(sum.rows, sum.cols, CV_8UC1);
    for (int r = 0; r < sum.rows; ++r) {
        const int32_t* in = sum.ptr<int32_t>(r);
        uint8_t* out = image.ptr<uint8_t>(r);
        for (int c = 0; c < sum.cols; ++c) out[c] = static_cast<uint8_t>((2 * in[c] + count) / (2 * count));
    }
    return image;
}

ExposurePlan PlanExposures(double shortest, double longest, int count,
                           const std::function<double(double)>& setExposure, const std::function<double()>& level) {
    ExposurePlan plan;
    plan.shortest = setExposure(shortest);
    plan.blackLevel = level();
    if (plan.blackLevel > kBlackCeiling) {
        FailRun("the light is too strong: the shortest exposure (" + Microseconds(plan.shortest) +
                ") already shows gray " + Gray(plan.blackLevel) + " where the series must start below " +
                Gray(kBlackCeiling) + "; dim the light or close the lens");
    }
    // Doubling up to the first saturated exposure, then halving the gap.
    double below = plan.shortest;
    double above = 0.0;
    int probes = 0;
    for (double next = std::min(longest, std::max(2.0 * below, below + 1.0)); above == 0.0; ++probes) {
        const double taken = setExposure(next);
        const double seen = level();
        if (seen >= kSaturatedLevel) {
            above = taken;
        } else if (taken >= longest || probes >= kMaxProbes) {
            FailRun("the light is too weak: the longest exposure (" + Microseconds(taken) + ") shows gray " +
                    Gray(seen) + " and the series must reach saturation; brighten the light or open the lens");
        } else {
            below = taken;
            next = std::min(longest, 2.0 * taken);
        }
    }
    while (above - below > kSaturationPrecision * above && probes++ < kMaxProbes) {
        const double taken = setExposure(0.5 * (below + above));
        if (taken <= below || taken >= above) break;  // the camera's exposure steps are coarser
        (level() >= kSaturatedLevel ? above : below) = taken;
    }
    plan.saturation = above;

    const double top = std::min(longest, kBeyondSaturation * plan.saturation);
    for (int k = 0; k < count; ++k) {
        const double wanted = count > 1 ? plan.shortest + (top - plan.shortest) * k / (count - 1) : top;
        const double taken = setExposure(wanted);
        if (!plan.levels.empty() && taken <= plan.levels.back()) {
            FailRun("the camera saturates too early: it reaches gray " + Gray(kSaturatedLevel) + " at " +
                    Microseconds(plan.saturation) + ", too few of its exposure steps for " + std::to_string(count) +
                    " levels; dim the light or ask for fewer --levels");
        }
        plan.levels.push_back(taken);
    }
    return plan;
}

ExposurePlan PlanExposures(Camera& camera, int count, int settle, int timeoutMs) {
    double shortest = 0.0;
    double longest = 0.0;
    camera.ExposureBounds(shortest, longest);
    return PlanExposures(
        shortest, longest, count, [&](double exposure) { return camera.SetExposure(exposure); },
        [&] { return ReferenceLevel(AverageFrames(camera.GrabSum(1, settle, timeoutMs), 1)); });
}

}  // namespace cisffc
