#include "calib/segment/group_steps.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

// Group {0..5} compares 2->3 and 3->4 only; `step` sits at 2->3, a jump of 50
// at the group's edge must not count. {5, 6, 6, 6} is flat and comes later;
// {1, 4, 6} is too short to be looked at.
TEST(MarkGroupSteps, CentralStepsBeyondTwoMarkTheGroupAndLaterGroupsWin) {
    for (auto [step, stepped] : {std::pair{2.0f, false}, {-2.0f, false}, {2.5f, true}, {-2.5f, true}}) {
        const std::vector<float> profile = {100, 150, 150, 150 + step, 150 + step, 150 + step, 7};
        const ImageMarks marks = MarkGroups(profile, {{0, 1, 2, 3, 4, 5}, {5, 6, 6, 6}, {1, 4, 6}}, 8, GroupStepMark);
        for (int c = 0; c < 7; ++c) {
            EXPECT_EQ(marks[c].marked, stepped && c < 5) << "step " << step << " column " << c;
            EXPECT_EQ(marks[c].value, profile[c]);
        }
        EXPECT_TRUE(marks[7].marked && marks[7].value == 255.0f);  // in no group
    }
}

// A flat group stays at 255; a group stepped only in the darker images takes
// each column's value in the brightest of them.
TEST(MarkGroupSteps, TopLevelsComeFromBrightestSteppedImage) {
    std::vector<ImageMarks> marks;
    std::vector<float> levels;
    for (float base : {0.0f, 40.0f, 80.0f, 120.0f, 160.0f}) {
        const float step = base < 100.0f ? 3.0f : 1.0f;
        marks.push_back(MarkGroups({base, base, base, base + step, base, base, base + 1, base + 2},
                                   {{0, 1, 2, 3}, {4, 5, 6, 7}}, 8, GroupStepMark));
        levels.push_back(base);
    }
    EXPECT_EQ(FindTopLevels(marks, levels, 8), (std::vector<float>{80, 80, 80, 83, 255, 255, 255, 255}));
}

}  // namespace
}  // namespace ffc
