#include "calib/lowhigh/image_selection.h"

#include <gtest/gtest.h>

namespace ffc {
namespace {

TEST(ImageSelection, KeepsFlattestImageOfFirstRunAtEachLevel) {
    // The second of two images at level 10 is flatter and wins.
    EXPECT_EQ(ChooseOneImagePerLevel({10, 10, 20, 30}, {5.0, 4.0, 1.0, 1.0}), (std::vector<size_t>{1, 2, 3}));
    // The scan for level 10 stops at level 20: the third image never competes.
    EXPECT_EQ(ChooseOneImagePerLevel({10, 20, 10}, {5.0, 1.0, 0.0}), (std::vector<size_t>{0, 1}));
    // Equal flatness (in float) keeps the earlier image; 255 is never kept.
    EXPECT_EQ(ChooseOneImagePerLevel({255, 40, 40, 255}, {0.0, 2.0 + 1e-12, 2.0, 0.0}), (std::vector<size_t>{1}));
}

TEST(ImageSelection, IntegerLevelTruncatesAfterEveryAdditionWhileFloatLevelDoesNot) {
    // 100.7 -> 100, 200.9 -> 200, then 200 / 2; the float level is 100.8.
    const std::vector<float> profile = {100.7f, 0.0f, 100.9f};
    EXPECT_EQ(ImageLevel(profile, {0, 2}), 100);
    const SelectedImages selected = SelectImages({{30.5f, 30.0f, 30.0f}, profile, {255.0f, 0.0f, 255.0f}}, {0, 2});
    ASSERT_EQ(selected.profiles.size(), 2u);
    EXPECT_EQ(selected.profiles[1], profile);
    EXPECT_EQ(selected.levels[0], 30.25f);
    EXPECT_FLOAT_EQ(selected.levels[1], 100.8f);
    // Squares of the float differences from the integer level, summed in double.
    const float first = 100.7f - 100.0f;
    const float last = 100.9f - 100.0f;
    EXPECT_EQ(Flatness(profile, 100), static_cast<double>(first * first) + 10000.0 + static_cast<double>(last * last));
}

}  // namespace
}  // namespace ffc
