// Bad input through the public interface, case by case from tables: each case
// names its input and the answer a host is promised (false, a result, or the
// exception "Vector is empty"), and checks that nothing was lost: the whole
// instance is compared before and after wherever it must stay as it was.
#include <algorithm>
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

// Extra files a case's own folder holds beside its good images.
enum class Extra { kNone, kTaller, kSaturated, kBlack };

void WriteFolder(const std::string& folder, int goodImages, Extra extra) {
    WriteGoodImages(folder, goodImages);
    if (extra == Extra::kTaller) {
        ASSERT_TRUE(cv::imwrite(folder + "taller.bmp", LevelImage(12, kHeight + 1, kWidth)));
    } else if (extra == Extra::kSaturated || extra == Extra::kBlack) {
        const cv::Mat image = extra == Extra::kBlack ? cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(0)) : LevelImage(40);
        for (int i = 0; i < 12; ++i) ASSERT_TRUE(cv::imwrite(folder + std::to_string(i) + ".bmp", image));
    }
}

// A case: its own folder (or the good one), the parameters and arguments, and
// the answer of each run: R rejected (false, nothing changed), C calibrated,
// W false with every result written (a segmented run with incomplete columns).
struct RunCase {
    const char* name;
    int goodImages;  // -1: the shared folder of good images
    Extra extra;
    std::vector<int32_t> references;
    int32_t height, width;
    ColumnGroups groups;
    uint32_t digits;
    const char* answers;  // current, previous, segmented
};

TEST_F(BadInput, EveryRunGivesItsDocumentedAnswerAndRejectionsKeepEverything) {
    const auto& refs = kReferences;
    const int32_t h = kHeight, w = kWidth;
    const std::vector<RunCase> cases = {
        {"no images", 0, Extra::kNone, refs, h, w, kGroups, 6, "RRR"},
        {"9 images", 9, Extra::kNone, refs, h, w, kGroups, 6, "CCR"},
        {"3 images and one a row taller", 3, Extra::kTaller, refs, h, w, kGroups, 6, "RRR"},
        {"saturated images", 0, Extra::kSaturated, refs, h, w, kGroups, 6, "RRW"},
        {"black images: infinite gains", 0, Extra::kBlack, refs, h, w, kGroups, 6, "RCW"},
        {"width 0", -1, Extra::kNone, refs, h, 0, kGroups, 6, "RRR"},
        {"negative width", -1, Extra::kNone, refs, h, -16, kGroups, 6, "RRR"},
        {"height of no image", -1, Extra::kNone, refs, 3, w, kGroups, 6, "RRR"},
        {"negative reference column", -1, Extra::kNone, {-1, 7}, h, w, kGroups, 6, "RRR"},
        {"reference column at the width", -1, Extra::kNone, {16}, h, w, kGroups, 6, "RRR"},
        {"no reference column", -1, Extra::kNone, {}, h, w, kGroups, 6, "RRR"},
        {"descending, duplicated reference columns", -1, Extra::kNone, {7, 3, 3}, h, w, kGroups, 6, "CCC"},
        {"no groups", -1, Extra::kNone, refs, h, w, {}, 6, "CCC"},
        {"groups of 0 to 3 columns", -1, Extra::kNone, refs, h, w, {{}, {5}, {6, 7}, {8, 9, 10}}, 6, "CCC"},
        {"negative group index", -1, Extra::kNone, refs, h, w, {{0, -1, 2, 3}}, 6, "RRR"},
        {"group index at the width", -1, Extra::kNone, refs, h, w, {{0, 1}, {15, 16}}, 6, "RRR"},
        {"0 significant digits", -1, Extra::kNone, refs, h, w, kGroups, 0, "CCC"},
        {"4294967295 significant digits", -1, Extra::kNone, refs, h, w, kGroups, 4294967295u, "CCC"},
    };
    for (const RunCase& c : cases) {
        testing::TempFolder own;
        if (c.goodImages >= 0) WriteFolder(own.path(), c.goodImages, c.extra);
        const std::string folder = c.goodImages >= 0 ? own.path() : good_->path();
        for (int r = 0; r < 3; ++r) {
            SCOPED_TRACE(std::string(c.name) + ", " + kRunNames[r] + " run");
            FlatFieldCorrectionInstance instance = Calibrated();
            ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, folder, c.references, c.height, c.width));
            const std::string before = Take(&instance);
            EXPECT_EQ(kRuns[r](&instance, c.digits, c.groups), c.answers[r] == 'C');
            if (c.answers[r] == 'R') {
                EXPECT_TRUE(Take(&instance) == before) << "a rejected run changed the instance";
            } else {
                EXPECT_EQ(instance.quadCoeffs.size(), static_cast<size_t>(kWidth));
            }
        }
    }
}

// Null pointers to every function, and folders that do not exist: the
// documented false or nothing at all. Null outputs are skipped, the others
// still written, and nothing of the instance changes.
TEST_F(BadInput, NullPointersAndMissingFoldersToEveryFunction) {
    const cv::Mat image = LevelImage(5);
    cv::Mat output;
    CreateFlatFieldCorrectionInstance(nullptr);
    DestroyFlatFieldCorrectionVyrInstance(nullptr);
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(nullptr, good_->path(), kReferences, kHeight, kWidth));
    for (RunFunction run : kRuns) EXPECT_FALSE(run(nullptr, 6, kGroups));
    float gain = -7.0f;
    Return_realcoeffgain(nullptr, &gain, &gain);
    GetFlatFieldCorrectionPolyval_NewNew(nullptr, nullptr, nullptr, nullptr, nullptr, &gain, &gain, &gain, &gain);
    GetFlatFieldCorrectionPolyval_New(nullptr, nullptr, nullptr, nullptr, nullptr, &gain);
    GetFlatFieldCorrectionPolyval_Seg_2(nullptr, nullptr, nullptr);
    EXPECT_EQ(gain, -7.0f);

    FlatFieldCorrectionInstance instance = Calibrated();
    instance.realCubicGain = 2.5f;
    const std::string full = Take(&instance);
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(&instance, good_->path() + "missing/", {1}, 1, 1));
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(&instance, "", {1}, 1, 1));
    float real[2] = {0, 0};
    Return_realcoeffgain(&instance, nullptr, &real[1]);
    Return_realcoeffgain(&instance, &real[0], nullptr);
    std::vector<std::vector<float>> cubic = {{1.0f}};
    GetFlatFieldCorrectionPolyval_NewNew(&instance, nullptr, &cubic, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr);
    GetFlatFieldCorrectionPolyval_New(&instance, nullptr, nullptr, nullptr, nullptr, &gain);
    std::vector<int32_t> breakpoints = {1, 2, 3};
    GetFlatFieldCorrectionPolyval_Seg_2(&instance, nullptr, &breakpoints);
    EXPECT_TRUE(real[0] == instance.realQuadGain && real[1] == 2.5f && gain == instance.rangeGain &&
                cubic == instance.cubicCoeffs && breakpoints == instance.segQuadBreaks);
    for (auto test : {TestFlatFieldCorrectionTool_NewNew, TestFlatFieldCorrectionTool}) {
        EXPECT_FALSE(test(nullptr, &image, &output, 0));
        EXPECT_FALSE(test(&instance, nullptr, &output, 0));
        EXPECT_FALSE(test(&instance, &image, nullptr, 0));
    }
    EXPECT_TRUE(Take(&instance) == full);
}

}  // namespace
}  // namespace ffc
