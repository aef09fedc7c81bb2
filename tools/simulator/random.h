// The simulator's own distributions on top of std::mt19937, whose output
// sequence the C++ standard fixes; the std:: distributions are avoided
// because their algorithms differ between standard libraries.
#ifndef CIS_SIMULATOR_RANDOM_H
#define CIS_SIMULATOR_RANDOM_H

#include <cstdint>
#include <random>

namespace cissim {

constexpr double kPi = 3.14159265358979323846;

// The purposes random numbers are drawn for; each has its own generators, so
// that changing how one is drawn leaves the others as they were.
enum Stream : uint32_t {
    kCameraStream = 1,
    kNormalTableStream = 2,
    kCalibrationFrameStream = 3,
    kHeldOutFrameStream = 4,
    kDecoyFrameStream = 5,
    kDarkFrameStream = 6,
    kCameraFrameStream = 7,  // frames a simulated GenICam camera serves
};

// The frame seed of image `index` of a stream under a seed, for RenderFlatImage.
uint64_t FrameSeed(uint32_t seed, Stream stream, uint32_t index);

// A generator for one purpose (`stream`) and one item of it (`index`) under a
// seed; std::seed_seq's mixing is also fixed by the standard.
std::mt19937 SeededGenerator(uint32_t seed, uint32_t stream, uint32_t index);

// Uniform in the open interval (0, 1), from one raw 32-bit output.
double UniformOpen(std::mt19937& generator);

// Uniform in [low, high).
double UniformBetween(std::mt19937& generator, double low, double high);

// Standard normal by the Box-Muller transform (the cosine branch only, so
// every deviate costs exactly two raw outputs).
double StandardNormal(std::mt19937& generator);

}  // namespace cissim

#endif  // CIS_SIMULATOR_RANDOM_H
