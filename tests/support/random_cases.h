// Random correction cases, instances of any contents and images of any size,
// drawn from a seeded generator in the tests and benchmarks or from the bytes
// of a fuzzer's input.
#ifndef FFC_TESTS_SUPPORT_RANDOM_CASES_H
#define FFC_TESTS_SUPPORT_RANDOM_CASES_H

#include <cstddef>
#include <cstdint>
#include <random>

#include <opencv2/core/mat.hpp>

#include "instance/instance.h"

namespace ffc::testing {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // The next `bytes` (1 to 4) random bytes as one number, the first highest.
    virtual uint32_t Next(int bytes) = 0;
    // Whether every byte counts: the generators then draw the first 13
    // columns of an instance and repeat them, and repeat a short pattern over
    // an image, so that wide instances and tall images cost little.
    virtual bool Scarce() const { return false; }

    uint8_t Byte() { return static_cast<uint8_t>(Next(1)); }
    int32_t Int32() { return static_cast<int32_t>(Next(4)); }
    // lo..hi, from as few bytes as the span needs.
    int32_t InRange(int32_t lo, int32_t hi);
    bool Chance(int outOf) { return Byte() % outOf == 0; }
};

struct SeededSource : RandomSource {
    explicit SeededSource(uint32_t seed) : generator(seed) {}
    uint32_t Next(int bytes) override { return static_cast<uint32_t>(generator() >> (32 - 8 * bytes)); }
    std::mt19937 generator;
};

// A fuzzer's input, front to back. Past its end every byte is 0, so any input,
// however short, describes a complete case.
struct ByteSource : RandomSource {
    ByteSource(const uint8_t* data, size_t size) : at(data), end(data + size) {}
    uint32_t Next(int bytes) override {
        uint32_t bits = 0;
        for (int i = 0; i < bytes; ++i) bits = (bits << 8) | (at < end ? *at++ : 0);
        return bits;
    }
    bool Scarce() const override { return true; }
    const uint8_t* at;
    const uint8_t* end;
};

// An instance for images `width` columns wide (any int) holding every list a
// correction reads: coefficient tables (mostly fitted-looking, now and then
// extreme or not finite), gains, flags, dark ranges, mapping tables, hole
// columns and hole candidates. `complete`: every list covers the width and
// none that a pixel may need is empty, so no call is rejected or throws;
// otherwise any list may be short, long or empty.
FlatFieldCorrectionInstance RandomInstance(RandomSource& random, int32_t width, bool complete);

// An image of any type whose bytes repeat a drawn pattern, each row raised by
// a drawn amount, with single bytes and whole rows set to 0 or 255 at drawn
// rates (dark pixels and holes). Now and then a view into a wider image, so
// that its rows are not contiguous.
cv::Mat RandomImage(RandomSource& random, int rows, int cols, int type = CV_8UC1);

}  // namespace ffc::testing

#endif  // FFC_TESTS_SUPPORT_RANDOM_CASES_H
