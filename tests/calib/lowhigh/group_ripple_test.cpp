#include "calib/lowhigh/group_ripple.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

// A group 0..n-1 whose values are 0 except `middle`, placed from position
// `first`; the values sum to 0, so the group mean is 0 and signs follow them.
bool RipplesWith(size_t n, size_t first, const std::vector<float>& middle) {
    std::vector<float> profile(n, 0.0f);
    std::vector<int32_t> group;
    for (size_t k = 0; k < n; ++k) group.push_back(static_cast<int32_t>(k));
    for (size_t j = 0; j < middle.size(); ++j) profile[first + j] = middle[j];
    return TestGroupRipple(profile, group);
}

const std::vector<float> kOnePair = {1, 1, 1, -1, -1, -1};

TEST(GroupRippleTest, OnlyTheMiddleHalfCounts) {
    // 13 columns: middle positions 4..9; 11 columns: 3..8.
    EXPECT_TRUE(RipplesWith(13, 4, kOnePair));
    EXPECT_TRUE(RipplesWith(11, 3, kOnePair));
    // 12 columns: middle positions 4..8, one short of two runs of three.
    EXPECT_FALSE(RipplesWith(12, 3, kOnePair));
    EXPECT_FALSE(RipplesWith(12, 4, kOnePair));
}

TEST(GroupRippleTest, GoodPairNeedsFirstSignRunThenOtherSignRunOfThree) {
    // Signs - + + + - - -: pairs {1, 3} and {3, 0}.
    EXPECT_FALSE(RipplesWith(24, 7, {-1, 2, 1, 1, -1, -1, -1}));
    EXPECT_TRUE(RipplesWith(24, 7, {1, 1, 1, -1, -1, -1, 1, 1, 1, -1, -1, -1}));
    // Values equal to the mean count as negative: one pair {m, 0}.
    EXPECT_FALSE(RipplesWith(24, 7, {}));
}

TEST(GroupRippleTest, LongGroupsNeedMoreThanOneGoodPairPerFiftyPositions) {
    // 80 columns: 39 middle positions (21..59) still need one good pair; 120
    // columns: 59 middle positions (31..89) need two.
    EXPECT_TRUE(RipplesWith(80, 21, kOnePair));
    EXPECT_FALSE(RipplesWith(120, 31, kOnePair));
    EXPECT_TRUE(RipplesWith(120, 31, {1, 1, 1, -1, -1, -1, 1, 1, 1, -1, -1, -1}));
}

TEST(GroupRippleTest, LastGroupMarksSharedColumns) {
    // Columns 0..12 ripple, 13..25 are flat; column 12 is in both groups.
    std::vector<float> profile(30, 5.0f);
    std::vector<int32_t> rippled;
    std::vector<int32_t> flat = {12};
    for (int32_t c = 0; c < 13; ++c) rippled.push_back(c);
    for (int32_t c = 13; c < 25; ++c) flat.push_back(c);
    for (size_t j = 0; j < kOnePair.size(); ++j) profile[4 + j] = 5.0f + kOnePair[j];

    const ImageMarks rippledLast = MarkGroupRipple(profile, {flat, rippled}, 30);
    const ImageMarks flatLast = MarkGroupRipple(profile, {rippled, flat}, 30);
    EXPECT_TRUE(rippledLast[12].stepped);
    EXPECT_FALSE(flatLast[12].stepped);
    EXPECT_EQ(flatLast[12].value, 5.0f);
    EXPECT_TRUE(flatLast[0].stepped);
    // A column in no group keeps its initial mark.
    EXPECT_TRUE(flatLast[29].stepped);
    EXPECT_EQ(flatLast[29].value, 255.0f);
}

TEST(GroupRippleTest, BrightCandidateIsThe101stSmallestTopLevelLess30) {
    const std::vector<float> levels = {50.0f, 120.0f};
    // Up to 100 columns there is no 101st value.
    EXPECT_EQ(FindBrightCandidate({std::vector<float>(100, 50.0f), std::vector<float>(100, 120.0f)}, levels, {}, 100),
              -31.0f);
    // Columns in no group take 255 from the brightest image.
    EXPECT_EQ(FindBrightCandidate({std::vector<float>(150, 50.0f), std::vector<float>(150, 120.0f)}, levels, {}, 150),
              225.0f);
    // Every column in a flat group: none is rippled, so every top level is 255.
    std::vector<int32_t> all;
    for (int32_t c = 0; c < 150; ++c) all.push_back(c);
    EXPECT_EQ(FindBrightCandidate({std::vector<float>(150, 50.0f), std::vector<float>(150, 120.0f)}, levels, {all}, 150),
              225.0f);
    // Groups of 15 that ripple only in the darker image: the top levels are
    // that image's values 49, 50 and 51, the 101st smallest of them 50.
    std::vector<float> dark(150, 50.0f);
    std::vector<std::vector<int32_t>> groups(10);
    for (int32_t c = 0; c < 150; ++c) groups[c / 15].push_back(c);
    for (int32_t g = 0; g < 10; ++g) {
        for (size_t j = 0; j < kOnePair.size(); ++j) dark[15 * g + 4 + j] += kOnePair[j];
    }
    EXPECT_EQ(FindBrightCandidate({dark, std::vector<float>(150, 120.0f)}, levels, groups, 150), 20.0f);
}

TEST(GroupRippleTest, HighBoundIs180ForEveryFiniteCandidate) {
    for (float candidate : {-31.0f, 150.0f, 190.0f, 225.0f}) {
        EXPECT_EQ(HighBoundFromBrightCandidate(candidate), 180.0f);
    }
}

}  // namespace
}  // namespace ffc
