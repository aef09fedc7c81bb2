#include "calib/segment/group_steps.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

// Group {0..5} has its central half at positions 2 and 3 (steps 2->3, 3->4);
// the profile puts `step` between columns 2 and 3 and a large jump at the
// group's edge, which lies outside the central half and must not count.
std::vector<float> ProfileWithStep(float step) { return {100.0f, 150.0f, 150.0f, 150.0f + step, 150.0f + step, 150.0f + step, 7.0f}; }

TEST(MarkGroupSteps, OnlyStepsBeyondTwoInTheCentralHalfCount) {
    const ColumnGroups groups = {{0, 1, 2, 3, 4, 5}};
    const std::vector<std::pair<float, bool>> cases = {{2.0f, false}, {-2.0f, false}, {2.5f, true}, {-2.5f, true}, {0.0f, false}};
    for (const auto& [step, stepped] : cases) {
        const ImageMarks marks = MarkGroupSteps(ProfileWithStep(step), groups, 7);
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(marks[c].stepped, stepped) << "step " << step;
            EXPECT_EQ(marks[c].value, ProfileWithStep(step)[c]);
        }
        EXPECT_TRUE(marks[6].stepped);  // in no group
        EXPECT_EQ(marks[6].value, 255.0f);
    }
}

// A column in two groups keeps the state of the later one; a group of three
// is skipped and leaves its columns as they were.
TEST(MarkGroupSteps, LaterGroupWinsAndShortGroupsAreSkipped) {
    const std::vector<float> profile = ProfileWithStep(5.0f);
    const ImageMarks marks = MarkGroupSteps(profile, {{0, 1, 2, 3, 4, 5}, {5, 6, 6, 6}, {1, 4, 6}}, 7);
    EXPECT_TRUE(marks[4].stepped);
    EXPECT_FALSE(marks[5].stepped);  // the flat group {5, 6, 6, 6} came later
    EXPECT_FALSE(marks[6].stepped);
    EXPECT_EQ(marks[6].value, 7.0f);
}

// Over a series of images, a flat group's columns stay at 255 and a group
// stepped only in the darker images takes its value in the brightest of them.
TEST(MarkGroupSteps, TopLevelsComeFromBrightestSteppedImage) {
    const ColumnGroups groups = {{0, 1, 2, 3}, {4, 5, 6, 7}};
    std::vector<ImageMarks> marks;
    std::vector<float> levels;
    for (int image = 0; image < 5; ++image) {
        const float base = 40.0f * static_cast<float>(image);
        const float step = image < 3 ? 3.0f : 1.0f;
        marks.push_back(MarkGroupSteps({base, base, base, base + step, base, base, base + 1.0f, base + 2.0f},
                                       groups, 8));
        levels.push_back(base);
    }
    const std::vector<float> top = FindTopLevels(marks, levels, 8);
    EXPECT_EQ(top[0], 80.0f);
    EXPECT_EQ(top[3], 83.0f);
    EXPECT_EQ(top[5], 255.0f);
}

}  // namespace
}  // namespace ffc
