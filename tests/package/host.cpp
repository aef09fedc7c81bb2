// A host of the installed library: writes a small calibration folder, then
// goes through the usual sequence: create, set parameters, calibrate, read the
// results, correct an image, destroy. Exits with 0 when every step behaved.
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <VyrCISFlatfieldCorrection.h>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 4;

int failures = 0;

void Check(bool condition, const char* step) {
    if (condition) return;
    std::fprintf(stderr, "host: %s failed\n", step);
    ++failures;
}

// A flat target under light `light`: column c reads light times a gain of
// 0.9 to 1.1.
cv::Mat FlatImage(int light) {
    cv::Mat image(kHeight, kWidth, CV_8UC1);
    for (int c = 0; c < kWidth; ++c) image.col(c).setTo(cv::saturate_cast<uint8_t>(light * (0.9 + 0.05 * (c % 5))));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: flatfield_host <empty folder ending with />\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (int j = 0; j < 12; ++j) {
        Check(cv::imwrite(folder + "level_" + std::to_string(10 + j) + ".bmp", FlatImage(30 + 15 * j)),
              "writing the calibration images");
    }

    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    Check(instance != nullptr, "CreateFlatFieldCorrectionInstance");
    Check(SetFlatFieldCorrectionParameters(instance, folder, {10, 20, 30}, kHeight, kWidth),
          "SetFlatFieldCorrectionParameters");

    std::vector<std::vector<int32_t>> groups = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
    Check(RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 4, groups),
          "RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew");

    std::vector<std::vector<float>> quad, cubic;
    std::vector<bool> flags;
    std::vector<std::vector<uint8_t>> darkRanges;
    float quadGain = 0, quadOffset = -1, cubicGain = 0, cubicOffset = -1;
    GetFlatFieldCorrectionPolyval_NewNew(instance, &quad, &cubic, &flags, &darkRanges, &quadGain, &quadOffset,
                                         &cubicGain, &cubicOffset);
    Check(quad.size() == kWidth && cubic.size() == kWidth && quad[0].size() == 3 && cubic[0].size() == 4,
          "GetFlatFieldCorrectionPolyval_NewNew shapes");
    Check(quadGain == 1.0f && quadOffset == 0.0f && cubicGain == 1.0f && cubicOffset == 0.0f,
          "GetFlatFieldCorrectionPolyval_NewNew gains");
    float realQuadGain = 0, realCubicGain = 0;
    Return_realcoeffgain(instance, &realQuadGain, &realCubicGain);
    Check(realQuadGain > 0.0f && realCubicGain > 0.0f, "Return_realcoeffgain");

    const cv::Mat camera = FlatImage(120);
    cv::Mat corrected;
    Check(TestFlatFieldCorrectionTool_NewNew(instance, &camera, &corrected, 1), "TestFlatFieldCorrectionTool_NewNew");
    Check(corrected.size() == camera.size() && corrected.type() == CV_8UC1, "corrected image size");
    // A flat target comes out nearly flat: the spread of the columns shrinks.
    double cameraMin, cameraMax, correctedMin, correctedMax;
    cv::minMaxLoc(camera.row(0), &cameraMin, &cameraMax);
    cv::minMaxLoc(corrected.row(0), &correctedMin, &correctedMax);
    Check(correctedMax - correctedMin < cameraMax - cameraMin, "flattening");

    DestroyFlatFieldCorrectionVyrInstance(instance);
    if (failures == 0) std::printf("host: calibrated %d columns, corrected spread %g -> %g\n", kWidth,
                                   cameraMax - cameraMin, correctedMax - correctedMin);
    return failures == 0 ? 0 : 1;
}
