// A host of the installed C++ interface: calibrates a small folder it writes,
// saves the calibration, loads it back and corrects an image on two threads;
// a refused calibration must name its reason. Exits with 0 when every step
// behaved.
#include <cstdio>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <VyrCISFlatfieldCorrection.hpp>

namespace {

cv::Mat FlatImage(int light) {
    cv::Mat image(4, 64, CV_8UC1);
    for (int c = 0; c < 64; ++c) image.col(c).setTo(cv::saturate_cast<uint8_t>(light * (0.9 + 0.05 * (c % 5))));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: flatfield_host_cxx <empty folder ending with />\n");
        return 2;
    }
    const std::string folder = argv[1];
    for (int j = 0; j < 12; ++j) cv::imwrite(folder + std::to_string(10 + j) + ".bmp", FlatImage(30 + 15 * j));
    try {
        vyrffc::Settings settings;
        settings.groupWidth = 16;
        const vyrffc::Calibration calibration = vyrffc::CalibrateFolder(folder, settings);
        calibration.Save(folder + "calibration.yml");
        const vyrffc::Calibration loaded = vyrffc::Calibration::Load(folder + "calibration.yml");
        cv::Mat corrected;
        loaded.Correct(FlatImage(120), corrected, 1, 2);
        if (corrected.size() != cv::Size(64, 4) || loaded.results().columnLuts.size() != 64) {
            std::fprintf(stderr, "host: unexpected results\n");
            return 1;
        }
    } catch (const vyrffc::Error& error) {
        std::fprintf(stderr, "host: %s\n", error.what());
        return 1;
    }
    try {
        vyrffc::CalibrateFolder(folder + "missing/", {});
    } catch (const vyrffc::Error& error) {
        if (error.reason() == vyrffc::ErrorReason::kFolderMissing) {
            std::printf("host: C++ interface %s, calibration saved, loaded and applied\n",
                        vyrffc::LibraryVersion().c_str());
            return 0;
        }
    }
    std::fprintf(stderr, "host: a missing folder was not refused with its reason\n");
    return 1;
}
