// Reads the fuzzer's bytes as the values a harness needs. Past the end every
// read gives zero, so any input, however short, describes a complete case.
#ifndef FFC_FUZZ_INPUT_H
#define FFC_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ffc::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }

    uint32_t Bits32() {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits = (bits << 8) | Byte();
        return bits;
    }

    int32_t Int32() { return static_cast<int32_t>(Bits32()); }

    // Any float, NaN, infinities and subnormals included.
    float RawFloat() {
        const uint32_t bits = Bits32();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // A value in lo..hi (inclusive); lo when the input is exhausted.
    int32_t InRange(int32_t lo, int32_t hi) {
        const uint32_t span = static_cast<uint32_t>(hi - lo) + 1u;
        return lo + static_cast<int32_t>(Bits16() % span);
    }

    bool Chance(int outOf) { return Byte() % outOf == 0; }

    size_t Remaining() const { return size_ - offset_; }

private:
    uint32_t Bits16() { return (static_cast<uint32_t>(Byte()) << 8) | Byte(); }

    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

}  // namespace ffc::fuzz

#endif  // FFC_FUZZ_INPUT_H
