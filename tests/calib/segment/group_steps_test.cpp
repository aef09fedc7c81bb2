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

}  // namespace
}  // namespace ffc
