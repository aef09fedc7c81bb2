// Correction modes by number and name, the mode used when none is named, and
// the output level a raw level of the reference columns becomes.
#include <cmath>
#include <limits>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_state.h"

namespace vyrffc {
namespace {

// The tool and the Python module read modes through these: a name that does
// not read back, or a slip taken for a mode, would reach users.
TEST(Modes, EveryModeReadsBackByNameOrNumberAndNothingElseIsAMode) {
    std::set<std::string> names;
    for (int mode : AllModes()) {
        ASSERT_NE(ModeName(mode), nullptr) << mode;
        EXPECT_TRUE(names.insert(ModeName(mode)).second) << ModeName(mode);
        EXPECT_EQ(ModeNamed(ModeName(mode)), mode);
        EXPECT_EQ(ModeNamed(std::to_string(mode)), mode);
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            EXPECT_NE(ModeDescription(mode, generation), nullptr) << mode;
        }
    }
    EXPECT_EQ(AllModes(), (std::vector<int>{0, 1, 4, 5, 6, kDefaultMode}));
    EXPECT_EQ(ModeNamed("default"), kDefaultMode);
    EXPECT_STRNE(ModeDescription(5, Generation::kCurrent), ModeDescription(6, Generation::kCurrent));
    EXPECT_STRNE(ModeDescription(5, Generation::kCurrent), ModeDescription(5, Generation::kPrevious));
    for (const char* slip : {"2", "3", "-1", "8", "Cubic", " 1", "", "quadratic "}) {
        EXPECT_FALSE(ModeNamed(slip).has_value()) << slip;
    }
    for (int slip : {2, 3, -1, 8}) {
        EXPECT_EQ(ModeName(slip), nullptr);
        EXPECT_EQ(ModeDescription(slip, Generation::kCurrent), nullptr);
    }
}

TEST(Modes, TheDefaultModeOfEveryRunAndRuleIsOneItServesAndNeverTheTable) {
    for (CalibrationRun run : {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented}) {
        for (Generation generation : {Generation::kCurrent, Generation::kPrevious}) {
            const int mode = DefaultMode(run, generation);
            const std::vector<int> served = ServedModes(run, generation);
            EXPECT_NE(std::find(served.begin(), served.end(), mode), served.end()) << RunName(run);
            EXPECT_NE(mode, 4) << "the table fails on a raw 255";
        }
    }
}

// Four columns; 1 and 2 are the reference. Mode 0 gives 2x - 40 and 2x - 60
// there, mode 4 x + 3 and x - 3.
Calibration HandWorkedCalibration() {
    Results r;
    r.run = CalibrationRun::kCurrent;
    r.significantDigits = 6;
    r.imageHeight = 1;
    r.imageWidth = 4;
    r.referenceColumns = {1, 2};
    r.columnGroups = {{0, 1, 2, 3}};
    r.quadCoeffs = {{0, 1, 0}, {-40, 2, 0}, {-60, 2, 0}, {0, 1, 0}};
    r.cubicCoeffs = {{0, 1, 0, 0}, {-40, 2, 0, 0}, {-60, 2, 0, 0}, {0, 1, 0, 0}};
    r.quadGain = r.cubicGain = 1.0f;
    r.columnFlags = {0, 0, 0, 0};
    r.columnDarkRanges.resize(4);
    for (int c = 0; c < 4; ++c) {
        std::vector<int32_t> lut(256);
        for (int k = 0; k < 256; ++k) lut[k] = k + (c == 1 ? 3 : c == 2 ? -3 : 0);
        r.columnLuts.push_back(lut);
    }
    return MakeCalibration(r);
}

TEST(OutputLevel, IsTheReferenceColumnsMeanOutputBetweenWholeLevels) {
    const Calibration calibration = HandWorkedCalibration();
    const Generation current = Generation::kCurrent;
    // Raw 60 and 61: (80 + 60) / 2 = 70 and 72; a quarter of the way: 70.5.
    EXPECT_DOUBLE_EQ(OutputLevel(calibration, 60.25, 0, current), 70.5);
    EXPECT_DOUBLE_EQ(OutputLevel(calibration, 60.25, 6, current), 70.5);
    // Raw 25 and 26: column 2 clamps to 0, column 1 gives 10 and 12.
    EXPECT_DOUBLE_EQ(OutputLevel(calibration, 25.5, 0, current), 5.5);
    EXPECT_DOUBLE_EQ(OutputLevel(calibration, 200.0, 1, current), 255.0);
    EXPECT_DOUBLE_EQ(OutputLevel(calibration, 60.25, 4, current), 60.25);
    for (double level : {-0.5, 255.5, std::numeric_limits<double>::quiet_NaN()}) {
        try {
            OutputLevel(calibration, level, 0, current);
            ADD_FAILURE() << level;
        } catch (const Error& error) {
            EXPECT_EQ(error.reason(), ErrorReason::kInvalidSettings) << level;
        }
    }
}

}  // namespace
}  // namespace vyrffc
