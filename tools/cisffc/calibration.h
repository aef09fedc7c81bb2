// One calibration through the library's public interface: the parameters,
// the run, everything the accessors hand out, and the instance that the
// correction test functions need afterwards.
#ifndef CISFFC_CALIBRATION_H
#define CISFFC_CALIBRATION_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "folder_scan.h"

namespace cisffc {

enum class RunKind { Current, Previous, Segmented };

const char* RunName(RunKind run);
int MinimumImages(RunKind run);

// Defaults shared by every command that calibrates.
constexpr uint32_t kDefaultDigits = 6;
constexpr int32_t kDefaultGroupWidth = 64;

struct CalibrationSettings {
    RunKind run = RunKind::Current;
    uint32_t significantDigits = kDefaultDigits;
    int32_t imageHeight = 0;  // 0: the size most images of the folder have
    int32_t imageWidth = 0;
    std::vector<int32_t> referenceColumns;           // empty: the run's default
    std::vector<std::vector<int32_t>> columnGroups;  // empty: consecutive groups
    int32_t groupWidth = kDefaultGroupWidth;
};

// The reference columns a run uses when none are given: the middle fifth of
// the line for the low/high runs (their mean is the target level), every
// column for the segmented run (it fits only the listed columns).
std::vector<int32_t> DefaultReferenceColumns(RunKind run, int32_t width);

struct InstanceDeleter {
    void operator()(FlatFieldCorrectionInstance* instance) const { DestroyFlatFieldCorrectionVyrInstance(instance); }
};
using InstanceHandle = std::unique_ptr<FlatFieldCorrectionInstance, InstanceDeleter>;

struct Calibration {
    CalibrationSettings settings;  // with every default filled in
    FolderScan scan;
    ImageCounts counts;
    InstanceHandle instance;
    bool succeeded = false;
    double seconds = 0.0;  // time the run took

    // What the accessors hand out after the run.
    std::vector<std::vector<float>> quadCoeffs;
    std::vector<std::vector<float>> cubicCoeffs;
    std::vector<bool> columnFlags;
    std::vector<std::vector<uint8_t>> columnDarkRanges;
    float quadGain = 0, quadOffset = 0, cubicGain = 0, cubicOffset = 0;
    float realQuadGain = 1, realCubicGain = 1;
    float rangeGain = 0;
    std::vector<std::vector<std::vector<float>>> segmentPieces;
    std::vector<int32_t> segmentBreaks;

    // Listed columns the segmented run could not split in two (breakpoint
    // 256 with an all-zero upper piece).
    std::vector<int32_t> incompleteColumns() const;
};

// Fills in the defaults the folder decides (image size, reference columns,
// groups) and checks the columns against the image; a failure names the
// reason and ends the command.
CalibrationSettings ResolveSettings(CalibrationSettings settings, const FolderScan& scan);

// Scans the folder, runs the calibration and reads every result back. A run
// the library rejects ends the command with the reason the folder shows. A
// segmented run that wrote its results but left columns incomplete returns
// with succeeded == false.
Calibration Calibrate(const std::string& folderArgument, const CalibrationSettings& settings);

// The test function that goes with the run; `mode` as the test functions take
// it. Errors of the test functions (for example missing dark ranges) become a
// failure naming the image.
enum class TestFunction { Current, Previous };
TestFunction DefaultTestFunction(RunKind run);
cv::Mat CorrectImage(const Calibration& calibration, TestFunction test, int32_t mode, const cv::Mat& raw,
                     const std::string& imageName);

}  // namespace cisffc

#endif  // CISFFC_CALIBRATION_H
