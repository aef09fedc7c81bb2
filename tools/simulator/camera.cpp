// The fixed pattern of one simulated module: chips, per-column gains and
// offsets, the light fall-off, the ripple inside each chip and the dark
// columns, all drawn from the seed.
#include "cis_simulator.h"
#include "random.h"
#include "response.h"

#include <algorithm>
#include <cmath>

namespace cissim {

namespace {

// Chip parameters are redrawn while they come too close to the previous
// chip's, so that neighbouring chips always differ visibly.
constexpr double kMinChipGainStep = 0.03;
constexpr double kMinChipOffsetStep = 1.0;
constexpr int kRedraws = 64;

double DrawApartFrom(std::mt19937& generator, double low, double high, const std::vector<double>& drawn,
                     double minStep) {
    double value = UniformBetween(generator, low, high);
    for (int attempt = 0; attempt < kRedraws && !drawn.empty() && std::fabs(value - drawn.back()) < minStep;
         ++attempt) {
        value = UniformBetween(generator, low, high);
    }
    return value;
}

// A squared-off sine: runs of equal sign of half a period, steep steps
// between them, as the alternating response of neighbouring photosites shows.
double RippleShape(double phase) {
    return std::tanh(2.0 * std::sin(phase)) / std::tanh(2.0);
}

// Position along the line, -1 at the first column, +1 at the last.
double LinePosition(int column, int width) {
    return width > 1 ? (2.0 * column - (width - 1)) / (width - 1) : 0.0;
}

void PlaceChips(CisCamera& camera, std::mt19937& generator) {
    const int width = camera.options.width;
    const int chips = std::max(1, std::min(camera.options.chips, width));
    for (int k = 0; k < chips; ++k) {
        camera.chipFirstColumn.push_back(static_cast<int>(static_cast<int64_t>(k) * width / chips));
        camera.chipGain.push_back(DrawApartFrom(generator, 0.9, 1.1, camera.chipGain, kMinChipGainStep));
        camera.chipOffset.push_back(DrawApartFrom(generator, 3.0, 9.0, camera.chipOffset, kMinChipOffsetStep));
    }
}

void DrawColumns(CisCamera& camera, std::mt19937& generator) {
    const int width = camera.options.width;
    const size_t chips = camera.chipFirstColumn.size();
    camera.columnGain.resize(width);
    camera.columnOffset.resize(width);
    camera.columnRipple.resize(width);
    camera.darkThreshold.assign(width, 0.0);
    for (size_t k = 0; k < chips; ++k) {
        const int first = camera.chipFirstColumn[k];
        const int end = k + 1 < chips ? camera.chipFirstColumn[k + 1] : width;
        const double amplitude = UniformBetween(generator, 0.03, 0.04);
        const double period = UniformBetween(generator, 8.0, 12.0);
        const double phase = UniformBetween(generator, 0.0, 2.0 * kPi);
        for (int c = first; c < end; ++c) {
            const double u = LinePosition(c, width);
            const double u2 = u * u;
            const double u4 = u2 * u2;
            const double u16 = u4 * u4 * u4 * u4;
            const double fallOff = 1.0 - 0.10 * u2 - 0.10 * u16;
            const double prnu = 1.0 + 0.006 * StandardNormal(generator);
            const double dsnu = 0.5 * StandardNormal(generator);
            camera.columnGain[c] = camera.chipGain[k] * prnu * fallOff;
            camera.columnOffset[c] = camera.chipOffset[k] + dsnu;
            camera.columnRipple[c] = amplitude * RippleShape(2.0 * kPi * (c - first) / period + phase);
        }
    }
}

// Dark columns lie outside the middle fifth of the line (where hosts usually
// take their reference columns) and at least three columns apart; their
// offset cancels their response up to the threshold light.
void PlaceDarkColumns(CisCamera& camera, std::mt19937& generator) {
    const int width = camera.options.width;
    int placed = 0;
    for (int attempt = 0; placed < camera.options.darkColumns && attempt < 100 * camera.options.darkColumns;
         ++attempt) {
        const int c = std::min(width - 1, static_cast<int>(UniformOpen(generator) * width));
        if (std::fabs(LinePosition(c, width)) < 0.2) continue;
        bool nearAnother = false;
        for (int d = std::max(0, c - 2); d <= std::min(width - 1, c + 2); ++d) {
            nearAnother = nearAnother || camera.darkThreshold[d] > 0.0;
        }
        if (nearAnother) continue;
        camera.darkThreshold[c] = UniformBetween(generator, 18.0, 36.0);
        camera.columnOffset[c] = -ColumnResponse(camera, c, camera.darkThreshold[c]);
        ++placed;
    }
}

std::vector<float> DrawNormalTable(uint32_t seed) {
    std::mt19937 generator = SeededGenerator(seed, kNormalTableStream, 0);
    std::vector<float> table(1u << 16);
    for (float& value : table) value = static_cast<float>(StandardNormal(generator));
    return table;
}

}  // namespace

CisCamera MakeCamera(const SimulatorOptions& options) {
    CisCamera camera;
    camera.options = options;
    camera.options.width = std::max(1, options.width);
    camera.options.height = std::max(1, options.height);
    std::mt19937 generator = SeededGenerator(options.seed, kCameraStream, 0);
    PlaceChips(camera, generator);
    DrawColumns(camera, generator);
    camera.nonlinearity = UniformBetween(generator, 0.03, 0.05);
    camera.temporalNoise = 0.7;
    PlaceDarkColumns(camera, generator);
    camera.normalTable = DrawNormalTable(options.seed);
    return camera;
}

}  // namespace cissim
