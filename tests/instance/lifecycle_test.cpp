#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

#include <fstream>

#include <gtest/gtest.h>

namespace {

// A failed call keeps the earlier parameters; a successful one replaces only
// the four parameters and stores the folder string exactly as given, also a
// folder without its separator or an ordinary file.
TEST(Parameters, MissingFolderKeepsEarlierValuesAndExistingPathsAreStoredAsGiven) {
    FlatFieldCorrectionInstance instance;
    ffc::testing::TempFolder folder;
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(&instance, folder.path(), {3, 7}, 16, 64));
    instance.quadCoeffs = {{1.0f, 2.0f, 3.0f}};
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(&instance, folder.path() + "missing/", {1}, 8, 32));
    EXPECT_EQ(instance.imageFolder, folder.path());
    EXPECT_EQ(instance.referenceColumns, (std::vector<int32_t>{3, 7}));
    EXPECT_EQ(std::make_pair(instance.imageHeight, instance.imageWidth), std::make_pair(16, 64));

    const std::string file = folder.path() + "notes.txt";
    std::ofstream(file) << "not a folder";
    for (const std::string& path : {folder.path().substr(0, folder.path().size() - 1), file}) {
        EXPECT_TRUE(SetFlatFieldCorrectionParameters(&instance, path, {5}, 4, 10));
        EXPECT_EQ(instance.imageFolder, path);
    }
    EXPECT_EQ(instance.referenceColumns, (std::vector<int32_t>{5}));
    EXPECT_EQ(std::make_pair(instance.imageHeight, instance.imageWidth), std::make_pair(4, 10));
    EXPECT_EQ(instance.quadCoeffs, (std::vector<std::vector<float>>{{1.0f, 2.0f, 3.0f}}));
}

TEST(NullPointers, AreHarmlessAndEachNonNullGainIsWritten) {
    DestroyFlatFieldCorrectionVyrInstance(nullptr);
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(nullptr, ".", {0}, 1, 1));
    FlatFieldCorrectionInstance instance;
    instance.realCubicGain = 2.5f;
    float gain = 5.0f;
    Return_realcoeffgain(nullptr, &gain, &gain);
    EXPECT_EQ(gain, 5.0f);
    Return_realcoeffgain(&instance, nullptr, &gain);
    EXPECT_EQ(gain, 2.5f);
    Return_realcoeffgain(&instance, &gain, nullptr);
    EXPECT_EQ(gain, 1.0f);
}

TEST(RunInputs, AcceptOnlyPositiveSizesAndColumnsInsideTheImage) {
    struct Case {
        int32_t height;
        std::vector<int32_t> references;
        ffc::ColumnGroups groups;
        bool valid;
    };
    const Case cases[] = {
        {2, {0, 9}, {{0, 1, 2, 3}, {6, 7, 8, 9}}, true}, {2, {0, 9}, {}, true},
        {2, {0, 9}, {{0, 1}, {9, 10}}, false},          {2, {0, 9}, {{-1, 0}}, false},
        {2, {10}, {}, false},                            {2, {0, -1}, {}, false},
        {2, {}, {}, false},                              {0, {0, 9}, {}, false},
    };
    for (const Case& c : cases) {
        FlatFieldCorrectionInstance instance;
        instance.imageWidth = 10;
        instance.imageHeight = c.height;
        instance.referenceColumns = c.references;
        EXPECT_EQ(ffc::RunInputsAreValid(instance, c.groups), c.valid) << &c - cases;
    }
}

}  // namespace
