// A host of the installed library of the twelve functions: writes a small
// calibration folder, then creates, configures, calibrates, reads the results,
// corrects an image and destroys. Exits with 0 when every step behaved.
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <VyrCISFlatfieldCorrection.h>

namespace {

// A flat target under `light`: column c reads light times 0.9 to 1.1.
cv::Mat FlatImage(int light) {
    cv::Mat image(4, 64, CV_8UC1);
    for (int c = 0; c < 64; ++c) image.col(c).setTo(cv::saturate_cast<uint8_t>(light * (0.9 + 0.05 * (c % 5))));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: flatfield_host <empty folder ending with />\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (int j = 0; j < 12; ++j) cv::imwrite(folder + "level_" + std::to_string(10 + j) + ".bmp", FlatImage(30 + 15 * j));
    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    std::vector<std::vector<float>> quad, cubic;
    float quadGain = 0, quadOffset = -1, cubicGain = 0, cubicOffset = -1;
    const cv::Mat camera = FlatImage(120);
    cv::Mat corrected;
    const bool ok = SetFlatFieldCorrectionParameters(instance, folder, {10, 20, 30}, 4, 64) &&
                    RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 4, {{0, 1, 2, 3, 4, 5, 6, 7}}) &&
                    (GetFlatFieldCorrectionPolyval_NewNew(instance, &quad, &cubic, nullptr, nullptr, &quadGain,
                                                          &quadOffset, &cubicGain, &cubicOffset),
                     quad.size() == 64 && cubic[0].size() == 4 && quadGain == 1.0f && quadOffset == 0.0f) &&
                    TestFlatFieldCorrectionTool_NewNew(instance, &camera, &corrected, 1);
    DestroyFlatFieldCorrectionVyrInstance(instance);
    // A flat target comes out flatter.
    double rawLow, rawHigh, low, high;
    cv::minMaxLoc(camera.row(0), &rawLow, &rawHigh);
    if (ok) cv::minMaxLoc(corrected.row(0), &low, &high);
    if (!ok || high - low >= rawHigh - rawLow) {
        std::fprintf(stderr, "host: the calibration or correction failed\n");
        return 1;
    }
    std::printf("host: calibrated 64 columns, spread %g -> %g\n", rawHigh - rawLow, high - low);
    return 0;
}
