#include "calib/lowhigh/previous_fit_range.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace ffc {
namespace {

// A group 0..n-1 of zeros but for `middle` from position `first`; the values
// sum to 0, so the group mean is 0 and the signs follow the values.
bool RipplesWith(size_t n, size_t first, const std::vector<float>& middle) {
    std::vector<float> profile(n, 0.0f);
    std::vector<int32_t> group;
    for (size_t k = 0; k < n; ++k) group.push_back(static_cast<int32_t>(k));
    std::copy(middle.begin(), middle.end(), profile.begin() + first);
    return GroupIsRippled(profile, group);
}

const std::vector<float> kOnePair = {1, 1, 1, -1, -1, -1};
const std::vector<float> kTwoPairs = {1, 1, 1, -1, -1, -1, 1, 1, 1, -1, -1, -1};

TEST(PreviousRippleMarks, CountsGoodPairsOverTheMiddleHalf) {
    // Middle positions: 13 columns 4..9, 11 columns 3..8, 12 columns 4..8.
    EXPECT_TRUE(RipplesWith(13, 4, kOnePair));
    EXPECT_TRUE(RipplesWith(11, 3, kOnePair));
    EXPECT_FALSE(RipplesWith(12, 3, kOnePair));
    EXPECT_FALSE(RipplesWith(12, 4, kOnePair));
    // Signs - + + + - - - ...: pairs {1, 3} and {3, ...}, none good.
    EXPECT_FALSE(RipplesWith(24, 7, {-1, 2, 1, 1, -1, -1, -1}));
    EXPECT_TRUE(RipplesWith(24, 7, kTwoPairs));
    // Values equal to the mean are negative: one pair {m, 0}.
    EXPECT_FALSE(RipplesWith(24, 7, {}));
    // 59 middle positions (120 columns) need two good pairs.
    EXPECT_FALSE(RipplesWith(120, 31, kOnePair));
    EXPECT_TRUE(RipplesWith(120, 31, kTwoPairs));
}

TEST(PreviousRippleMarks, BrightCandidateIsThe101stSmallestTopLevelLess30) {
    const std::vector<float> levels = {50.0f, 120.0f};
    const std::vector<float> bright(150, 120.0f);
    EXPECT_EQ(FindBrightCandidate({std::vector<float>(100, 50.0f), std::vector<float>(100, 120.0f)}, levels, {}, 100),
              -31.0f);
    // Columns in no group take 255 from the brightest image.
    EXPECT_EQ(FindBrightCandidate({std::vector<float>(150, 50.0f), bright}, levels, {}, 150), 225.0f);
    // Groups of 15 that ripple only in the darker image: top levels 49, 50
    // and 51 from that image, the 101st smallest 50.
    std::vector<float> dark(150, 50.0f);
    std::vector<std::vector<int32_t>> groups(10);
    for (int32_t c = 0; c < 150; ++c) groups[c / 15].push_back(c);
    for (int32_t g = 0; g < 10; ++g) {
        for (size_t j = 0; j < kOnePair.size(); ++j) dark[15 * g + 4 + j] += kOnePair[j];
    }
    EXPECT_EQ(FindBrightCandidate({dark, bright}, levels, groups, 150), 20.0f);
    EXPECT_EQ(HighBoundFromBrightCandidate(20.0f), 180.0f);
    EXPECT_EQ(HighBoundFromBrightCandidate(190.0f), 180.0f);
}

}  // namespace
}  // namespace ffc
