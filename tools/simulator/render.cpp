// Light levels and flat images of the simulated module.
#include "cis_simulator.h"
#include "random.h"
#include "response.h"

#include <algorithm>
#include <cmath>

namespace cissim {

namespace {

// The light of the last calibration level: about 1.45 times the light that
// brings a middle column of an average chip to 255, enough to saturate the
// dimmest chip at the ends of the line, where the light has fallen off most.
constexpr double kTopLight = 345.0;

}  // namespace

double ColumnResponse(const CisCamera& camera, int column, double light) {
    const double signal = light * camera.columnGain[column] * (1.0 + camera.columnRipple[column]);
    return signal * (1.0 - camera.nonlinearity * signal / 255.0);
}

double NoiseSigma(const CisCamera& camera, double mean) {
    return camera.temporalNoise * std::sqrt(1.0 + std::max(0.0, mean) / 64.0);
}

std::vector<double> CalibrationLightLevels(const SimulatorOptions& options) {
    const int levels = std::max(1, options.levels);
    std::vector<double> lights(levels, 0.0);
    for (int k = 1; k < levels; ++k) lights[k] = kTopLight * k / (levels - 1);
    return lights;
}

std::vector<double> ExpectedColumnValues(const CisCamera& camera, double light) {
    std::vector<double> means(camera.columnGain.size());
    for (size_t c = 0; c < means.size(); ++c) {
        means[c] = ColumnResponse(camera, static_cast<int>(c), light) + camera.columnOffset[c];
    }
    return means;
}

cv::Mat RenderFlatImage(const CisCamera& camera, double light, uint64_t frameSeed) {
    const int width = camera.options.width;
    const int height = camera.options.height;
    const std::vector<double> means = ExpectedColumnValues(camera, light);
    std::vector<double> sigmas(width);
    for (int c = 0; c < width; ++c) sigmas[c] = NoiseSigma(camera, means[c]);

    std::seed_seq sequence{static_cast<uint32_t>(frameSeed), static_cast<uint32_t>(frameSeed >> 32)};
    std::mt19937 generator(sequence);
    const float* normals = camera.normalTable.data();
    cv::Mat image(height, width, CV_8UC1);
    // One raw output gives the table indices of two pixels.
    uint32_t bits = 0;
    bool haveHalf = false;
    for (int r = 0; r < height; ++r) {
        uint8_t* row = image.ptr<uint8_t>(r);
        for (int c = 0; c < width; ++c) {
            if (!haveHalf) bits = generator();
            const uint32_t index = haveHalf ? bits >> 16 : bits & 0xFFFFu;
            haveHalf = !haveHalf;
            const double value = std::min(255.0, std::max(0.0, means[c] + sigmas[c] * normals[index]));
            row[c] = static_cast<uint8_t>(value + 0.5);
        }
    }
    return image;
}

}  // namespace cissim
