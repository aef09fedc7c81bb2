#include "calib/lowhigh/image_selection.h"

#include <gtest/gtest.h>

#include "calib/column_marks.h"

namespace ffc {
namespace {

TEST(ImageSelection, KeepsFlattestImageOfFirstRunAtEachLevel) {
    // The second of two images at level 10 is flatter and wins.
    EXPECT_EQ(ChooseOneImagePerLevel({10, 10, 20, 30}, {5.0, 4.0, 1.0, 1.0}), (std::vector<size_t>{1, 2, 3}));
    // The scan for level 10 stops at the image of level 20: the flatter third
    // image is never considered.
    EXPECT_EQ(ChooseOneImagePerLevel({10, 20, 10}, {5.0, 1.0, 0.0}), (std::vector<size_t>{0, 1}));
    // Equal flatness keeps the earlier image; level 255 is never kept.
    EXPECT_EQ(ChooseOneImagePerLevel({255, 40, 40, 255}, {0.0, 2.0, 2.0, 0.0}), (std::vector<size_t>{1}));
    // Flatness is compared in float: these differ only in double.
    EXPECT_EQ(ChooseOneImagePerLevel({7, 7}, {1.0 + 1e-12, 1.0}), (std::vector<size_t>{0}));
}

TEST(ImageSelection, IntegerLevelTruncatesAfterEveryAdditionWhileFloatLevelDoesNot) {
    const std::vector<float> profile = {100.7f, 0.0f, 100.9f};
    const std::vector<int32_t> referenceColumns = {0, 2};
    // 100.7 -> 100, then 200.9 -> 200, then 200 / 2.
    EXPECT_EQ(ImageLevel(profile, referenceColumns), 100);
    EXPECT_FLOAT_EQ(MeanOverReferenceColumns(profile, referenceColumns), 100.8f);
    // Squares of the float differences from the integer level, summed in double.
    const float first = 100.7f - 100.0f;
    const float last = 100.9f - 100.0f;
    EXPECT_EQ(Flatness(profile, 100), static_cast<double>(first * first) + 10000.0 + static_cast<double>(last * last));
}

TEST(ImageSelection, SelectedProfilesComeInLevelOrderWithFloatLevels) {
    const SelectedImages selected = SelectImages({{30.5f, 30.0f}, {10.0f, 12.0f}, {255.0f, 255.0f}}, {0});
    ASSERT_EQ(selected.profiles.size(), 2u);
    EXPECT_EQ(selected.profiles[0], (std::vector<float>{10.0f, 12.0f}));
    EXPECT_EQ(selected.levels, (std::vector<float>{10.0f, 30.5f}));
}

}  // namespace
}  // namespace ffc
