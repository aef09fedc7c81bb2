// Folders of simulated images: the calibration set, held-out flat images and
// the decoys a real folder may hold.
#include "cis_simulator.h"
#include "random.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/file_write.h"

namespace cissim {

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
    if (!folder.empty()) std::filesystem::create_directories(folder);
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + name;
    return folder + "/" + name;
}

// "<prefix>007.bmp": zero-padded to at least `digits` and to the digits of
// the largest index, so that the names list in index order.
std::string NumberedName(const std::string& prefix, int index, int count, size_t digits) {
    const std::string largest = std::to_string(std::max(0, count - 1));
    std::string number = std::to_string(index);
    number.insert(0, std::max(digits, largest.size()) - number.size(), '0');
    return prefix + number + ".bmp";
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    const std::string reason = ffc::WriteWholeFile(path, bytes);
    if (!reason.empty()) throw std::runtime_error("cannot write " + path + ": " + reason);
}

void WriteImage(const std::string& path, const cv::Mat& image) {
    std::vector<uchar> encoded;
    if (!cv::imencode(".bmp", image, encoded)) throw std::runtime_error("cannot encode " + path);
    WriteBytes(path, std::string_view(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
}

// The decoys show the light of the calibration level a third of the way up:
// a clear signal that saturates no column.
double DecoyLight(const SimulatorOptions& options) {
    const std::vector<double> lights = CalibrationLightLevels(options);
    return lights[lights.size() / 3];
}

}  // namespace

std::vector<std::string> WriteCalibrationFolder(const std::string& folder, const SimulatorOptions& options) {
    const CisCamera camera = MakeCamera(options);
    const std::vector<double> lights = CalibrationLightLevels(options);
    const int count = static_cast<int>(lights.size());
    std::vector<std::string> paths;
    for (int k = 0; k < count; ++k) {
        const std::string path = InFolder(folder, NumberedName("level_", k, count, 3));
        WriteImage(path, RenderFlatImage(camera, lights[k], FrameSeed(options.seed, kCalibrationFrameStream, k)));
        paths.push_back(path);
    }
    return paths;
}

std::vector<double> HeldOutLightLevels(const SimulatorOptions& options, int count) {
    const std::vector<double> lights = CalibrationLightLevels(options);
    const double step = lights.size() > 1 ? lights[1] : 0.0;
    const double topLight = lights.back();
    std::vector<double> heldOut;
    for (int j = 0; j < count; ++j) {
        // Spread over 15% to 55% of the top light (mid-gray levels of about 55
        // to 195, above the dark columns' thresholds and below saturation),
        // then moved halfway between two calibration levels.
        const double spread = count > 1 ? 0.15 + 0.40 * j / (count - 1) : 0.35;
        heldOut.push_back(step > 0.0 ? (std::floor(spread * topLight / step) + 0.5) * step : 0.0);
    }
    return heldOut;
}

std::vector<std::string> WriteHeldOutImages(const std::string& folder, const SimulatorOptions& options, int count) {
    const CisCamera camera = MakeCamera(options);
    const std::vector<double> lights = HeldOutLightLevels(options, count);
    std::vector<std::string> paths;
    for (int j = 0; j < count; ++j) {
        const std::string path = InFolder(folder, NumberedName("heldout_", j, count, 2));
        WriteImage(path, RenderFlatImage(camera, lights[j], FrameSeed(options.seed, kHeldOutFrameStream, j)));
        paths.push_back(path);
    }
    return paths;
}

std::string WriteDarkImage(const std::string& folder, const SimulatorOptions& options) {
    const std::string path = InFolder(folder, "dark.bmp");
    WriteImage(path, RenderFlatImage(MakeCamera(options), 0.0, FrameSeed(options.seed, kDarkFrameStream, 0)));
    return path;
}

std::string WriteDecoy(const std::string& folder, Decoy decoy, const SimulatorOptions& options) {
    const CisCamera camera = MakeCamera(options);
    const cv::Mat flat =
        RenderFlatImage(camera, DecoyLight(options), FrameSeed(options.seed, kDecoyFrameStream, 0));
    switch (decoy) {
        case Decoy::WrongSize: {
            const std::string path = InFolder(folder, "decoy_wrong_size.bmp");
            WriteImage(path, flat.colRange(0, std::max(1, flat.cols / 2)).clone());
            return path;
        }
        case Decoy::NotAnImage: {
            const std::string path = InFolder(folder, "decoy_not_an_image.bmp");
            WriteBytes(path, "This file is named like a bitmap but holds text.\n");
            return path;
        }
        case Decoy::Colour: {
            const std::string path = InFolder(folder, "decoy_colour.bmp");
            cv::Mat colour;
            cv::merge(std::vector<cv::Mat>{flat, flat, flat}, colour);
            WriteImage(path, colour);
            return path;
        }
    }
    throw std::invalid_argument("unknown decoy");
}

}  // namespace cissim
