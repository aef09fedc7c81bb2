#include "random.h"

#include <cmath>

namespace cissim {

std::mt19937 SeededGenerator(uint32_t seed, uint32_t stream, uint32_t index) {
    std::seed_seq sequence{seed, stream, index};
    return std::mt19937(sequence);
}

uint64_t FrameSeed(uint32_t seed, Stream stream, uint32_t index) {
    return (static_cast<uint64_t>(seed) << 32) | (static_cast<uint64_t>(stream) << 24) | (index & 0xFFFFFFu);
}

double UniformOpen(std::mt19937& generator) {
    return (static_cast<double>(generator()) + 0.5) / 4294967296.0;
}

double UniformBetween(std::mt19937& generator, double low, double high) {
    return low + (high - low) * UniformOpen(generator);
}

double StandardNormal(std::mt19937& generator) {
    const double radius = std::sqrt(-2.0 * std::log(UniformOpen(generator)));
    const double angle = 2.0 * kPi * UniformOpen(generator);
    return radius * std::cos(angle);
}

}  // namespace cissim
