// A host of both installed libraries: writes a small calibration folder,
// calibrates it through the twelve functions and through the C++ interface,
// which must agree, saves and loads the calibration, and corrects an image.
// Exits with 0 when every step behaved.
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <VyrCISFlatfieldCorrection.h>
#include <VyrCISFlatfieldCorrection.hpp>

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
    for (int j = 0; j < 12; ++j) cv::imwrite(folder + std::to_string(10 + j) + ".bmp", FlatImage(30 + 15 * j));
    try {
        vyrffc::Settings settings;
        settings.groupWidth = 16;
        vyrffc::CalibrateFolder(folder, settings).Save(folder + "module.ffcal");
        const vyrffc::Calibration calibration = vyrffc::Calibration::Load(folder + "module.ffcal");
        const vyrffc::Results& results = calibration.results();

        FlatFieldCorrectionInstance* instance = nullptr;
        CreateFlatFieldCorrectionInstance(&instance);
        std::vector<std::vector<float>> quad, cubic;
        float gains[4] = {};
        const cv::Mat camera = FlatImage(120);
        cv::Mat viaFunctions, viaInterface;
        const bool ok = SetFlatFieldCorrectionParameters(instance, folder, results.referenceColumns, 4, 64) &&
                        RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(instance, 6, results.columnGroups) &&
                        TestFlatFieldCorrectionTool_NewNew(instance, &camera, &viaFunctions, 1);
        GetFlatFieldCorrectionPolyval_NewNew(instance, &quad, &cubic, nullptr, nullptr, &gains[0], &gains[1],
                                             &gains[2], &gains[3]);
        DestroyFlatFieldCorrectionVyrInstance(instance);
        calibration.Correct(camera, viaInterface, 1, 2);
        if (!ok || quad != results.quadCoeffs || cv::norm(viaFunctions, viaInterface, cv::NORM_INF) != 0.0) {
            std::fprintf(stderr, "host: the two libraries disagree\n");
            return 1;
        }
        vyrffc::CalibrateFolder(folder + "missing/", settings);
    } catch (const vyrffc::Error& error) {
        if (error.reason() == vyrffc::ErrorReason::kFolderMissing) {
            std::printf("host: both libraries %s agree; a missing folder is refused as such\n",
                        vyrffc::LibraryVersion().c_str());
            return 0;
        }
        std::fprintf(stderr, "host: %s\n", error.what());
    }
    return 1;
}
