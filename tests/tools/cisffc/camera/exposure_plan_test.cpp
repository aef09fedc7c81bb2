// The exposure plan on a camera stand-in: a line whose reference level is
// proportional to the exposure, on a grid of exposure steps.
#include "camera/exposure_plan.h"

#include <cmath>

#include <gtest/gtest.h>

#include "tool_error.h"

namespace {

using cisffc::ExposurePlan;

struct StandIn {
    double shortest = 10.0;
    double longest = 100000.0;
    double step = 1.0;          // the camera's exposure resolution, us
    double grayPerUs = 0.1;     // 255 at 2,550 us
    double black = 6.0;
    double exposure = 0.0;

    ExposurePlan Plan(int count) {
        return cisffc::PlanExposures(
            shortest, longest, count,
            [this](double wanted) {
                exposure = std::min(longest, std::max(shortest, std::round(wanted / step) * step));
                return exposure;
            },
            [this] { return std::min(255.0, black + grayPerUs * exposure); });
    }
};

TEST(ExposurePlan, LevelsRiseEvenlyFromTheShortestToBeyondSaturation) {
    StandIn camera;
    const ExposurePlan plan = camera.Plan(48);
    const double firstSaturated = (cisffc::kSaturatedLevel - camera.black) / camera.grayPerUs;
    EXPECT_NEAR(plan.saturation, firstSaturated, 0.01 * firstSaturated);
    EXPECT_GE(plan.saturation, firstSaturated);
    ASSERT_EQ(plan.levels.size(), 48u);
    EXPECT_EQ(plan.levels.front(), camera.shortest);
    EXPECT_NEAR(plan.levels.back(), cisffc::kBeyondSaturation * plan.saturation, camera.step);
    const double spacing = (plan.levels.back() - plan.levels.front()) / 47.0;
    for (size_t k = 1; k < plan.levels.size(); ++k) {
        EXPECT_NEAR(plan.levels[k] - plan.levels[k - 1], spacing, camera.step);
    }
}

struct Unusable {
    const char* name;
    double grayPerUs;
    double step;
    const char* reason;
};

void PrintTo(const Unusable& unusable, std::ostream* out) { *out << unusable.name; }

class UnusableLight : public ::testing::TestWithParam<Unusable> {};

TEST_P(UnusableLight, EndsWithItsReason) {
    StandIn camera;
    camera.grayPerUs = GetParam().grayPerUs;
    camera.step = GetParam().step;
    try {
        camera.Plan(48);
        FAIL() << "no failure";
    } catch (const cisffc::ToolError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().reason), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    ExposurePlan, UnusableLight,
    ::testing::Values(Unusable{"TooStrong", 5.0, 1.0, "the light is too strong"},
                      Unusable{"TooWeak", 0.0001, 1.0, "the light is too weak"},
                      Unusable{"SaturatesTooEarly", 2.0, 10.0, "saturates too early"}),
    [](const ::testing::TestParamInfo<Unusable>& info) { return std::string(info.param.name); });

}  // namespace
