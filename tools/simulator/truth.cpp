// The figures a perfect measurement of the simulated module would give.
#include "cis_simulator.h"
#include "response.h"

#include <algorithm>
#include <cmath>

namespace cissim {

namespace {

double Clipped(double mean) { return std::min(255.0, std::max(0.0, mean)); }

// The variance over the columns, with W - 1 as the measurement takes it.
double SpatialVariance(const std::vector<double>& values, double mean) {
    double squares = 0.0;
    for (double value : values) squares += (value - mean) * (value - mean);
    return values.size() > 1 ? squares / static_cast<double>(values.size() - 1) : 0.0;
}

double Mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (double value : values) sum += value;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

}  // namespace

TrueFigures TrueSensorFigures(const CisCamera& camera, double light, const std::vector<int32_t>& columns) {
    const std::vector<double> flatMeans = ExpectedColumnValues(camera, light);
    const std::vector<double> darkMeans = ExpectedColumnValues(camera, 0.0);
    std::vector<double> flat, dark;
    double noise = 0.0;
    for (int32_t c : columns) {
        flat.push_back(Clipped(flatMeans[c]));
        dark.push_back(Clipped(darkMeans[c]));
        if (darkMeans[c] > 0.0) noise += std::pow(NoiseSigma(camera, darkMeans[c]), 2) + 1.0 / 12.0;
    }
    const double flatMean = Mean(flat), darkMean = Mean(dark);
    TrueFigures figures;
    figures.prnu =
        std::sqrt(std::max(0.0, SpatialVariance(flat, flatMean) - SpatialVariance(dark, darkMean))) / (flatMean - darkMean);
    figures.dsnu = std::sqrt(SpatialVariance(dark, darkMean));
    figures.darkNoise = columns.empty() ? 0.0 : std::sqrt(noise / static_cast<double>(columns.size()));
    return figures;
}

}  // namespace cissim
