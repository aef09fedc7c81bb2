#include "output_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const fs::path target(path);
    if (!target.parent_path().empty()) {
        EnsureFolder(target.parent_path().string());
    }
    // A dot-name beside the target keeps the rename within one file system.
    fs::path temporary = target;
    temporary.replace_filename("." + target.filename().string() + ".tmp" + std::to_string(::getpid()));
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        stream.close();
        if (!stream) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            FailRun("cannot write " + path);
        }
    }
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        FailRun("cannot write " + path);
    }
}

void WriteImageAtomically(const std::string& path, const cv::Mat& image) {
    std::vector<uchar> encoded;
    const std::string extension = fs::path(path).extension().string();
    bool encodedOk = false;
    try {
        // Pictures are mostly flat white: the strongest PNG compression pays.
        const std::vector<int> parameters = {cv::IMWRITE_PNG_COMPRESSION, 9};
        encodedOk = !extension.empty() && cv::imencode(extension, image, encoded, parameters);
    } catch (const cv::Exception&) {
        encodedOk = false;
    }
    if (!encodedOk) {
        FailUsage("cannot write an image named " + path + " (use .png or .bmp)");
    }
    WriteFileAtomically(path, std::string(encoded.begin(), encoded.end()));
}

void EnsureFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        FailRun("cannot create the folder " + folder);
    }
}

}  // namespace cisffc
