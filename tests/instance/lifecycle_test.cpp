#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"
#include "support/temp_folder.h"

#include <fstream>

#include <gtest/gtest.h>

namespace {

// Owns one instance for a test.
class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { CreateFlatFieldCorrectionInstance(&instance_); }
    void TearDown() override { DestroyFlatFieldCorrectionVyrInstance(instance_); }
    FlatFieldCorrectionInstance* instance_ = nullptr;
};

TEST_F(Lifecycle, FreshInstanceHasZeroGainsAndOffsetsButUnitRealGains) {
    ASSERT_NE(instance_, nullptr);
    float realQuad = 0.0f, realCubic = 0.0f;
    Return_realcoeffgain(instance_, &realQuad, &realCubic);
    EXPECT_EQ(realQuad, 1.0f);
    EXPECT_EQ(realCubic, 1.0f);
    EXPECT_EQ(instance_->quadGain, 0.0f);
    EXPECT_EQ(instance_->quadOffset, 0.0f);
    EXPECT_EQ(instance_->cubicGain, 0.0f);
    EXPECT_EQ(instance_->cubicOffset, 0.0f);
    EXPECT_EQ(instance_->rangeGain, 0.0f);
    EXPECT_EQ(instance_->imageHeight, 0);
    EXPECT_EQ(instance_->imageWidth, 0);
}

TEST_F(Lifecycle, MissingFolderLeavesEarlierParametersAndResults) {
    ffc::testing::TempFolder folder;
    ASSERT_TRUE(SetFlatFieldCorrectionParameters(instance_, folder.path(), {3, 7}, 16, 64));
    instance_->quadCoeffs = {{1.0f, 2.0f, 3.0f}};

    EXPECT_FALSE(SetFlatFieldCorrectionParameters(instance_, folder.path() + "missing/", {1}, 8, 32));
    EXPECT_EQ(instance_->imageFolder, folder.path());
    EXPECT_EQ(instance_->referenceColumns, (std::vector<int32_t>{3, 7}));
    EXPECT_EQ(instance_->imageHeight, 16);
    EXPECT_EQ(instance_->imageWidth, 64);

    // A successful call replaces only the four parameters, and stores the
    // folder string exactly as given.
    const std::string withoutSeparator = folder.path().substr(0, folder.path().size() - 1);
    EXPECT_TRUE(SetFlatFieldCorrectionParameters(instance_, withoutSeparator, {5}, 4, 10));
    EXPECT_EQ(instance_->imageFolder, withoutSeparator);
    EXPECT_EQ(instance_->referenceColumns, (std::vector<int32_t>{5}));
    EXPECT_EQ(instance_->imageHeight, 4);
    EXPECT_EQ(instance_->imageWidth, 10);
    EXPECT_EQ(instance_->quadCoeffs, (std::vector<std::vector<float>>{{1.0f, 2.0f, 3.0f}}));
}

TEST_F(Lifecycle, AnExistingOrdinaryFileCountsAsFolder) {
    ffc::testing::TempFolder folder;
    const std::string file = folder.path() + "notes.txt";
    std::ofstream(file) << "not a folder";
    EXPECT_TRUE(SetFlatFieldCorrectionParameters(instance_, file, {0}, 1, 1));
    EXPECT_EQ(instance_->imageFolder, file);
}

TEST_F(Lifecycle, NullPointersAreHarmless) {
    DestroyFlatFieldCorrectionVyrInstance(nullptr);
    EXPECT_FALSE(SetFlatFieldCorrectionParameters(nullptr, ".", {0}, 1, 1));
    float gain = 5.0f;
    Return_realcoeffgain(nullptr, &gain, &gain);
    EXPECT_EQ(gain, 5.0f);
    instance_->realCubicGain = 2.5f;
    Return_realcoeffgain(instance_, nullptr, &gain);
    EXPECT_EQ(gain, 2.5f);
    Return_realcoeffgain(instance_, &gain, nullptr);
    EXPECT_EQ(gain, 1.0f);
}

TEST(RunInputs, AcceptOnlyPositiveSizesAndColumnsInsideTheImage) {
    FlatFieldCorrectionInstance instance;
    instance.imageWidth = 10;
    instance.imageHeight = 2;
    instance.referenceColumns = {0, 9};
    EXPECT_TRUE(ffc::RunInputsAreValid(instance, {{0, 1, 2, 3}, {6, 7, 8, 9}}));
    EXPECT_TRUE(ffc::RunInputsAreValid(instance, {}));
    EXPECT_FALSE(ffc::RunInputsAreValid(instance, {{0, 1}, {9, 10}}));
    EXPECT_FALSE(ffc::RunInputsAreValid(instance, {{-1, 0}}));

    FlatFieldCorrectionInstance outside = instance;
    outside.referenceColumns = {10};
    EXPECT_FALSE(ffc::RunInputsAreValid(outside, {}));
    FlatFieldCorrectionInstance noReference = instance;
    noReference.referenceColumns.clear();
    EXPECT_FALSE(ffc::RunInputsAreValid(noReference, {}));
    FlatFieldCorrectionInstance noRows = instance;
    noRows.imageHeight = 0;
    EXPECT_FALSE(ffc::RunInputsAreValid(noRows, {}));
}

}  // namespace
