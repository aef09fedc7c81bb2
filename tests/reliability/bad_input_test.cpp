// Bad input through the public interface, case by case from tables: each case
// names its input and the answer a host is promised (false, a result, or the
// exception "Vector is empty"), and checks that nothing was lost: the whole
// instance is compared before and after wherever it must stay as it was.
#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"
#include "support/instance_bytes.h"
#include "support/temp_folder.h"

namespace ffc {
namespace {

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 2;
constexpr int kGoodImages = 30;
const std::vector<int32_t> kReferences = {3, 7};
const ColumnGroups kGroups = {{0, 1, 2, 3}};

// Image i: column c reads 8i + c on every row, so each image is its own level
// and every listed column has points on both sides of its breakpoint window.
cv::Mat LevelImage(int i, int rows = kHeight, int cols = kWidth) {
    cv::Mat image(rows, cols, CV_8UC1);
    for (int c = 0; c < cols; ++c) image.col(c).setTo(std::min(255, 8 * i + c));
    return image;
}

void WriteGoodImages(const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(cv::imwrite(folder + "img" + std::to_string(100 + i) + ".bmp", LevelImage(i)));
    }
}

// The whole instance, bit for bit.
std::string Take(const FlatFieldCorrectionInstance* instance) { return testing::InstanceBytes(*instance); }

using RunFunction = bool (*)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>);
const RunFunction kRuns[3] = {RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew,
                      RunFlatFieldCorrectionTool_lowhigh_map_simple_New, RunFlatFieldCorrectionTool_autosegment};
const char* const kRunNames[3] = {"current", "previous", "segmented"};

// What a run must answer: rejected (false, with nothing changed) or calibrated.
constexpr bool R = false, C = true;

class BadInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        good_ = new testing::TempFolder();
        WriteGoodImages(good_->path(), kGoodImages);
        CreateFlatFieldCorrectionInstance(&calibrated_);
        ASSERT_TRUE(SetFlatFieldCorrectionParameters(calibrated_, good_->path(), kReferences, kHeight, kWidth));
        for (RunFunction run : kRuns) ASSERT_TRUE(run(calibrated_, 6, kGroups));
    }
    static void TearDownTestSuite() {
        DestroyFlatFieldCorrectionVyrInstance(calibrated_);
        delete good_;
    }

    // A fresh copy of an instance on which all three runs succeeded, so that
    // every accessor has something to lose.
    static FlatFieldCorrectionInstance Calibrated() { return *calibrated_; }

    inline static testing::TempFolder* good_ = nullptr;
    inline static FlatFieldCorrectionInstance* calibrated_ = nullptr;
};

// The parameters a case hands to the instance before its runs.
struct Parameters {
    std::string folder;
    std::vector<int32_t> references = kReferences;
    int32_t height = kHeight, width = kWidth;
};

// A folder, the parameters and the arguments of a run, and the answer of each
// of the three runs.
struct RunCase {
    const char* name;
    std::function<void(const std::string& folder)> writeFolder;  // null: the good folder
    std::function<void(Parameters&)> change;                     // null: unchanged
    ColumnGroups groups;
    uint32_t digits;
    bool answers[3];  // R or C
};

TEST_F(BadInput, EveryRunGivesItsDocumentedAnswerAndRejectionsKeepEverything) {
    const std::vector<RunCase> cases = {
        {"no images", [](const std::string&) {}, nullptr, kGroups, 6, {R, R, R}},
        {"9 images", [](const std::string& f) { WriteGoodImages(f, 9); }, nullptr, kGroups, 6, {C, C, R}},
        {"3 images and a 16-bit image, read as 8-bit",
         [](const std::string& f) {
             WriteGoodImages(f, 3);
             cv::Mat deep;
             LevelImage(20).convertTo(deep, CV_16U, 257.0);
             ASSERT_TRUE(cv::imwrite(f + "deep.png", deep));
             std::rename((f + "deep.png").c_str(), (f + "deep.bmp").c_str());
         },
         nullptr, kGroups, 6, {C, C, R}},
        {"width 0", nullptr, [](Parameters& p) { p.width = 0; }, kGroups, 6, {R, R, R}},
        {"negative height", nullptr, [](Parameters& p) { p.height = -2; }, kGroups, 6, {R, R, R}},
        {"negative width", nullptr, [](Parameters& p) { p.width = -16; }, kGroups, 6, {R, R, R}},
        {"height of no image", nullptr, [](Parameters& p) { p.height = 3; }, kGroups, 6, {R, R, R}},
        {"negative reference column", nullptr, [](Parameters& p) { p.references = {-1, 7}; }, kGroups, 6, {R, R, R}},
        {"descending, duplicated reference columns", nullptr, [](Parameters& p) { p.references = {7, 3, 3}; },
         kGroups, 6, {C, C, C}},
        {"no groups", nullptr, nullptr, {}, 6, {C, C, C}},
        {"an empty group and groups of 1, 2 and 3 columns", nullptr, nullptr, {{}, {5}, {6, 7}, {8, 9, 10}}, 6,
         {C, C, C}},
        {"negative group index", nullptr, nullptr, {{0, -1, 2, 3}}, 6, {R, R, R}},
        {"group index at the width", nullptr, nullptr, {{0, 1}, {15, 16}}, 6, {R, R, R}},
        {"reference column at the width", nullptr, [](Parameters& p) { p.references = {16}; }, kGroups, 6, {R, R, R}},
        {"no reference column", nullptr, [](Parameters& p) { p.references = {}; }, kGroups, 6, {R, R, R}},
        {"3 images and one a row taller",
         [](const std::string& f) {
             WriteGoodImages(f, 3);
             ASSERT_TRUE(cv::imwrite(f + "taller.bmp", LevelImage(12, kHeight + 1, kWidth)));
         },
         nullptr, kGroups, 6, {R, R, R}},
        {"4 saturated images",
         [](const std::string& f) {
             for (int i = 0; i < 4; ++i) ASSERT_TRUE(cv::imwrite(f + std::to_string(i) + ".bmp", LevelImage(40)));
         },
         nullptr, kGroups, 6, {R, R, R}},
        {"0 significant digits", nullptr, nullptr, kGroups, 0, {C, C, C}},
        {"20 significant digits", nullptr, nullptr, kGroups, 20, {C, C, C}},
    };
    for (const RunCase& c : cases) {
        testing::TempFolder own;
        Parameters p{good_->path()};
        if (c.writeFolder) {
            c.writeFolder(own.path());
            p.folder = own.path();
        }
        if (c.change) c.change(p);
        for (int r = 0; r < 3; ++r) {
            SCOPED_TRACE(std::string(c.name) + ", " + kRunNames[r] + " run");
            FlatFieldCorrectionInstance instance = Calibrated();
            ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, p.folder, p.references, p.height, p.width));
            const std::string before = Take(&instance);
            EXPECT_EQ(kRuns[r](&instance, c.digits, c.groups), c.answers[r]);
            if (c.answers[r] == R) {
                EXPECT_TRUE(Take(&instance) == before) << "a rejected run changed the instance";
            } else {
                EXPECT_EQ(instance.quadCoeffs.size(), static_cast<size_t>(kWidth));
            }
        }
    }
}

// Null pointers to every function, and folders that do not exist: the
// documented false or nothing at all.
TEST_F(BadInput, NullPointersAndMissingFoldersToEveryFunction) {
    const cv::Mat image = LevelImage(5);
    cv::Mat output;
    CreateFlatFieldCorrectionInstance(nullptr);
    DestroyFlatFieldCorrectionVyrInstance(nullptr);
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(nullptr, good_->path(), kReferences, kHeight, kWidth));
    for (RunFunction run : kRuns) EXPECT_FALSE(run(nullptr, 6, kGroups));
    float gain = -7.0f;
    Return_realcoeffgain(nullptr, &gain, &gain);
    EXPECT_EQ(gain, -7.0f);
    FlatFieldCorrectionInstance gains;
    gains.realCubicGain = 2.5f;
    Return_realcoeffgain(&gains, nullptr, &gain);
    EXPECT_EQ(gain, 2.5f);
    Return_realcoeffgain(&gains, &gain, nullptr);
    EXPECT_EQ(gain, 1.0f);
    gain = -7.0f;
    GetFlatFieldCorrectionPolyval_NewNew(nullptr, nullptr, nullptr, nullptr, nullptr, &gain, &gain, &gain, &gain);
    GetFlatFieldCorrectionPolyval_New(nullptr, nullptr, nullptr, nullptr, nullptr, &gain);
    GetFlatFieldCorrectionPolyval_Seg_2(nullptr, nullptr, nullptr);
    EXPECT_EQ(gain, -7.0f);
    for (auto test : {TestFlatFieldCorrectionTool_NewNew, TestFlatFieldCorrectionTool}) {
        EXPECT_FALSE(test(nullptr, &image, &output, 0));
    }

    // Null outputs are skipped, the others still written; a folder that does
    // not exist changes nothing.
    FlatFieldCorrectionInstance instance = Calibrated();
    const std::string full = Take(&instance);
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(&instance, good_->path() + "missing/", {1}, 1, 1));
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(&instance, "", {1}, 1, 1));
    std::vector<std::vector<float>> cubic = {{1.0f}};
    GetFlatFieldCorrectionPolyval_NewNew(&instance, nullptr, &cubic, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr);
    EXPECT_EQ(cubic, instance.cubicCoeffs);
    GetFlatFieldCorrectionPolyval_New(&instance, nullptr, nullptr, nullptr, nullptr, nullptr);
    std::vector<int32_t> breakpoints = {1, 2, 3};
    GetFlatFieldCorrectionPolyval_Seg_2(&instance, nullptr, &breakpoints);
    EXPECT_EQ(breakpoints, instance.segQuadBreaks);
    for (auto test : {TestFlatFieldCorrectionTool_NewNew, TestFlatFieldCorrectionTool}) {
        EXPECT_FALSE(test(&instance, nullptr, &output, 0));
        EXPECT_FALSE(test(&instance, &image, nullptr, 0));
    }
    EXPECT_TRUE(Take(&instance) == full);
}

// A fresh instance has nothing to work on: every run is false without
// reading the current directory, every test false, the instance unchanged.
// It starts with gains and offsets 0, real gains 1 and no results.
TEST_F(BadInput, FreshInstanceRefusesRunsAndTests) {
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    const std::string fresh = Take(instance);
    for (RunFunction run : kRuns) EXPECT_FALSE(run(instance, 6, kGroups));
    const cv::Mat image = LevelImage(5);
    for (int32_t mode = -2; mode <= 8; ++mode) {
        cv::Mat output;
        EXPECT_FALSE(TestFlatFieldCorrectionTool_NewNew(instance, &image, &output, mode));
        EXPECT_FALSE(TestFlatFieldCorrectionTool(instance, &image, &output, mode));
        EXPECT_TRUE(output.empty());
    }
    EXPECT_TRUE(Take(instance) == fresh);
    const FlatFieldCorrectionInstance& f = *instance;
    EXPECT_EQ((std::vector<float>{f.quadGain, f.quadOffset, f.cubicGain, f.cubicOffset, f.rangeGain, f.realQuadGain,
                                  f.realCubicGain}),
              (std::vector<float>{0, 0, 0, 0, 0, 1, 1}));
    EXPECT_TRUE(f.quadCoeffs.empty() && f.segQuadCoeffs.empty() && f.imageHeight == 0 && f.imageWidth == 0);
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

}  // namespace
}  // namespace ffc
