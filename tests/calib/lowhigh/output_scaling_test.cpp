#include "calib/lowhigh/output_scaling.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

TEST(OutputScaling, QuarterColumnsSetOffsetAndGain) {
    // Eight columns giving 10, 12, ..., 24 at the low bound (x = 0) and
    // 230, ..., 244 at the high bound (x = 110): references 20 and 234.
    FlatFieldCorrectionInstance instance;
    for (int c = 0; c < 8; ++c) {
        instance.quadCoeffs.push_back({10.0f + 2.0f * c, 2.0f, 0.0f});
        instance.cubicCoeffs.push_back({10.0f + 2.0f * c, 2.0f, 0.0f, 0.0f});
    }
    const OutputScales scales = ScaleFitsToOutputRange(instance.quadCoeffs, instance.cubicCoeffs, {0.0f, 110.0f});
    EXPECT_TRUE(scales.Finite());
    CommitOutputScales(scales, instance);
    const float gain = static_cast<float>(255.0 / 214.0);
    EXPECT_EQ(instance.realQuadGain, gain);
    EXPECT_EQ(instance.realCubicGain, gain);
    EXPECT_EQ((std::vector<float>{instance.quadGain, instance.quadOffset, instance.cubicGain, instance.cubicOffset}),
              (std::vector<float>{1, 0, 1, 0}));
    for (int c = 0; c < 8; ++c) {
        const float constant = (10.0f + 2.0f * c - 20.0f) * gain;
        EXPECT_EQ(instance.quadCoeffs[c], (std::vector<float>{constant, 2.0f * gain, 0.0f}));
        EXPECT_EQ(instance.cubicCoeffs[c], (std::vector<float>{constant, 2.0f * gain, 0.0f, 0.0f}));
    }
    // Fewer than four columns take the extremes.
    const OutputScale extremes = ChooseOutputScale({5.0f, 9.0f, 7.0f}, {200.0f, 250.0f, 240.0f});
    EXPECT_EQ(extremes.offset, -9.0f);
    EXPECT_EQ(extremes.gain, static_cast<float>(255.0 / 191.0));
    // Equal references give no usable gain.
    std::vector<std::vector<float>> flat(4, {7.0f, 0.0f, 0.0f});
    EXPECT_FALSE(ScaleFitsToOutputRange(flat, flat, {0.0f, 110.0f}).Finite());
}

}  // namespace
}  // namespace ffc
