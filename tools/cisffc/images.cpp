#include "images.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <new>

#include "VyrCISFlatfieldCorrection.hpp"
#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

std::string ImageExtension(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool IsImageName(const std::string& path) {
    const std::string extension = ImageExtension(path);
    return extension == ".bmp" || extension == ".png" || extension == ".tif" || extension == ".tiff";
}

std::vector<std::string> ListBitmaps(const std::string& folder, bool withDark) {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error) || entry.path().extension() != ".bmp") continue;
        if (withDark || entry.path().filename() != kDarkImageName) paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> ExpandInputs(const std::vector<std::string>& arguments) {
    std::vector<std::string> inputs;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (fs::is_directory(argument, error)) {
            std::vector<std::string> found;
            for (const auto& entry : fs::directory_iterator(argument, error)) {
                if (entry.is_regular_file(error) && IsImageName(entry.path().string())) found.push_back(entry.path().string());
            }
            if (error) FailRun("cannot list the folder " + argument);
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else if (fs::exists(argument, error)) {
            inputs.push_back(argument);
        } else if (error) {
            FailRun("cannot examine " + argument + ": " + error.message());
        } else {
            FailRun("no image or folder named " + argument + ": it does not exist");
        }
    }
    return inputs;
}

void ReadCorrectable(const std::string& path, int32_t width, ImageBuffers& buffers) {
    try {
        vyrffc::ReadImageToCorrect(path, buffers.raw, buffers.file);
    } catch (const vyrffc::Error& error) {
        FailRun(error.what());
    } catch (const std::bad_alloc&) {
        FailRun("cannot read " + path + " as an image: not enough memory");
    }
    if (buffers.raw.cols != width) {
        FailRun(path + " is " + std::to_string(buffers.raw.cols) + " columns wide, the calibration is for " +
                std::to_string(width));
    }
}

cv::Mat ReadCorrectable(const std::string& path, int32_t width) {
    ImageBuffers buffers;
    ReadCorrectable(path, width, buffers);
    return buffers.raw;
}

}  // namespace cisffc
