// The figures of the report, from hand-worked column means.
#include <vector>

#include <gtest/gtest.h>

#include "uniformity.h"

namespace {

using cisffc::MeasureUniformity;

TEST(SensorFigures, PrnuSubtractsTheDarkVarianceAndDsnuIsTheDarkDeviation) {
    // Means 110 and 10, deviations 5 and 3: PRNU = sqrt(25 - 9) / 100.
    const cisffc::Uniformity flat = MeasureUniformity({105.0f, 115.0f}, {0, 1});
    const cisffc::Uniformity dark = MeasureUniformity({7.0f, 13.0f}, {0, 1});
    const cisffc::SensorFigures figures = cisffc::MeasureSensorFigures(flat, dark);
    EXPECT_DOUBLE_EQ(figures.prnu, 0.04);
    EXPECT_DOUBLE_EQ(figures.dsnu, 3.0);
    // A flat no brighter than the dark has no PRNU.
    EXPECT_TRUE(std::isnan(cisffc::MeasureSensorFigures(dark, dark).prnu));
}

TEST(SensorFigures, AnImageIsClippedWhenMoreThanTwoPercentOfItsColumnsReadFullScale) {
    std::vector<float> means(100, 200.0f);
    std::vector<int32_t> columns(100);
    for (int32_t c = 0; c < 100; ++c) columns[c] = c;
    means[0] = means[1] = 255.0f;
    EXPECT_FALSE(MeasureUniformity(means, columns).clipped);
    means[2] = 255.0f;
    EXPECT_TRUE(MeasureUniformity(means, columns).clipped);
}

}  // namespace
