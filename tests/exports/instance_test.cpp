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

// A fresh instance holds gains and offsets 0 and real gains 1; with its sizes
// of 0 no run reads the current directory, and every run refuses.
TEST(FreshInstance, HoldsItsDefaultsAndRefusesToRun) {
    FlatFieldCorrectionInstance* fresh = nullptr;
    CreateFlatFieldCorrectionInstance(&fresh);
    const FlatFieldCorrectionInstance& f = *fresh;
    EXPECT_EQ((std::vector<float>{f.quadGain, f.quadOffset, f.cubicGain, f.cubicOffset, f.rangeGain, f.realQuadGain,
                                  f.realCubicGain}),
              (std::vector<float>{0, 0, 0, 0, 0, 1, 1}));
    EXPECT_FALSE(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(fresh, 6, {}));
    EXPECT_FALSE(RunFlatFieldCorrectionTool_autosegment(fresh, 6, {}));
    EXPECT_TRUE(f.quadCoeffs.empty() && f.segQuadBreaks.empty());
    DestroyFlatFieldCorrectionVyrInstance(fresh);
}

}  // namespace
