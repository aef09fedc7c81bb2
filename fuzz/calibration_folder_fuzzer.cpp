// The three calibration runs on a folder of good calibration images plus one
// file whose bytes come from the fuzzer: any format, size, depth or channel
// count, truncated or corrupt.
//
// Nine good images are enough for the low/high runs but one short of the
// segmented run, so the fuzzed file decides whether the segmented run has its
// images. A run that cannot use the file must reject it silently; a run that
// succeeds must leave results of the documented shapes; and the results must
// correct an image without fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.h"
#include "imageset/image_set.h"
#include "instance/instance.h"
#include "support/instance_bytes.h"

namespace ffc::fuzz {
namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 2;
constexpr int kGoodImages = 9;

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "calibration folder fuzzer: %s\n", what);
    std::abort();
}

// Column c under light L reads L times a gain of 0.9 to 1.1 with an
// alternation of +-2 inside groups of 8 columns; column 0 stays dark below
// light 80.
cv::Mat GoodImage(int light) {
    cv::Mat image(kHeight, kWidth, CV_8UC1);
    for (int c = 0; c < kWidth; ++c) {
        const double gain = 0.9 + 0.05 * (c % 5);
        const double ripple = ((c / 2) % 2 == 0) ? 2.0 : -2.0;
        double raw = c == 0 && light < 80 ? 0.0 : light * gain + ripple;
        raw = raw < 0.0 ? 0.0 : (raw > 255.0 ? 255.0 : raw);
        image.col(c).setTo(static_cast<int>(raw));
    }
    return image;
}

// The folder of good images, made once per process and removed at its end.
struct Folder {
    std::string path;
    std::string fuzzedFile;
    Folder() {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() /
            ("ffc-fuzz-folder-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        path = folder.string() + "/";
        for (int j = 0; j < kGoodImages; ++j) {
            const std::string name = path + "good_" + std::to_string(j) + ".bmp";
            Require(cv::imwrite(name, GoodImage(30 + 25 * j)), "cannot write a good image");
        }
        fuzzedFile = path + "fuzzed.bmp";
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const Folder& TheFolder() {
    static const Folder folder;
    return folder;
}

FlatFieldCorrectionInstance* ConfiguredInstance(const std::string& folder) {
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    Require(SetFlatFieldCorrectionParameters(instance, folder, {3, 9, 15, 21, 27}, kHeight, kWidth),
            "the folder was not accepted");
    return instance;
}

const std::vector<std::vector<int32_t>> kGroups = {{8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
                                                   {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}};

bool ShapesAre(const std::vector<std::vector<float>>& table, size_t columns, size_t coefficients) {
    if (table.size() != columns) return false;
    for (const std::vector<float>& entry : table) {
        if (entry.size() != coefficients) return false;
    }
    return true;
}

// Corrects a mid-gray image with whatever the instance holds, in every mode
// that its results support: all polynomial modes, and the previous
// generation's mode 5 only with the mapping tables of a low/high run.
void CorrectWithResults(FlatFieldCorrectionInstance* instance, bool withTables) {
    const cv::Mat input = GoodImage(120);
    for (int32_t mode : {0, 1, 5, 6, 7}) {
        cv::Mat output;
        Require(TestFlatFieldCorrectionTool_NewNew(instance, &input, &output, mode), "current test failed");
        const bool previous = TestFlatFieldCorrectionTool(instance, &input, &output, mode);
        Require(previous == (withTables || mode != 5), "previous test gave the wrong result");
    }
}

void CheckLowHighRun(bool (*run)(FlatFieldCorrectionInstance*, uint32_t, std::vector<std::vector<int32_t>>)) {
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(TheFolder().path);
    // Nine good images always suffice, whatever the fuzzed file holds.
    Require(run(instance, 4, kGroups), "a low/high run failed");
    Require(ShapesAre(instance->quadCoeffs, kWidth, 3) && ShapesAre(instance->cubicCoeffs, kWidth, 4),
            "low/high coefficients of the wrong shape");
    Require(instance->columnLuts.size() == kWidth && instance->columnFlags.size() == kWidth &&
                instance->columnDarkRanges.size() == kWidth,
            "low/high tables of the wrong shape");
    for (const std::vector<int32_t>& lut : instance->columnLuts) Require(lut.size() == 256, "table not 256 long");
    CorrectWithResults(instance, true);
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

void CheckSegmentedRun(bool fuzzedFileIsUsable) {
    FlatFieldCorrectionInstance* instance = ConfiguredInstance(TheFolder().path);
    const std::string before = ffc::testing::InstanceBytes(*instance);
    const bool result = RunFlatFieldCorrectionTool_autosegment(instance, 4, kGroups);
    if (!fuzzedFileIsUsable) {
        Require(!result && ffc::testing::InstanceBytes(*instance) == before, "the segmented run used an unusable file");
    } else {
        Require(ShapesAre(instance->quadCoeffs, kWidth, 3) && ShapesAre(instance->cubicCoeffs, kWidth, 4) &&
                    instance->segQuadBreaks.size() == kWidth && instance->segCubicBreaks.size() == kWidth,
                "segmented results of the wrong shape");
        CorrectWithResults(instance, false);
    }
    DestroyFlatFieldCorrectionVyrInstance(instance);
}

}  // namespace
}  // namespace ffc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ffc::fuzz;
    const Folder& folder = TheFolder();
    {
        std::ofstream file(folder.fuzzedFile, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        Require(file.good(), "cannot write the fuzzed file");
    }
    const bool usable = !ffc::ReadCalibrationImage(folder.fuzzedFile, kHeight, kWidth).empty();

    CheckLowHighRun(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew);
    CheckLowHighRun(RunFlatFieldCorrectionTool_lowhigh_map_simple_New);
    CheckSegmentedRun(usable);
    return 0;
}
