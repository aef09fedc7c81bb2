#include "output_file.h"

#include <filesystem>
#include <iostream>
#include <map>

#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "images.h"
#include "platform.h"
#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (path == "-") {
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::cout.flush();
        if (!std::cout) FailRun("cannot write to standard output");
        return;
    }
    try {
        WithoutInterruption([&] { vyrffc::WriteFile(path, bytes); });
    } catch (const vyrffc::Error& error) {
        FailRun(error.what());
    }
}

namespace {

void WriteEncoded(const std::string& path, const cv::Mat& image, const std::vector<int>& parameters,
                  std::vector<uchar>& encoded) {
    if (!IsImageName(path)) {
        FailUsage("cannot write an image named " + path + " (name it .bmp, .png or .tif)");
    }
    bool encodedOk = false;
    try {
        encodedOk = cv::imencode(ImageExtension(path), image, encoded, parameters);
    } catch (const cv::Exception&) {
        encodedOk = false;
    }
    if (!encodedOk) FailRun("the image library could not encode " + path);
    WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
}

}  // namespace

void WriteImageAtomically(const std::string& path, const cv::Mat& image, std::vector<uchar>* buffer) {
    std::vector<uchar> own;
    WriteEncoded(path, image, {}, buffer != nullptr ? *buffer : own);
}

void WritePictureAtomically(const std::string& path, const cv::Mat& picture) {
    std::vector<uchar> encoded;
    WriteEncoded(path, picture, {cv::IMWRITE_PNG_COMPRESSION, 9}, encoded);
}

void EnsureFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        FailRun("cannot create the folder " + folder);
    }
}

void CheckOutputs(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs) {
    std::map<std::string, const NamedFile*> written;
    const NamedFile* standardOutput = nullptr;
    for (const NamedFile& output : outputs) {
        if (output.path == "-") {
            if (standardOutput != nullptr) {
                FailUsage(standardOutput->role + " and " + output.role + " cannot both go to standard output");
            }
            standardOutput = &output;
            continue;
        }
        const fs::path folder = fs::path(output.path).parent_path();
        std::error_code error;
        if (!output.folderMade && !folder.empty() && !fs::is_directory(folder, error)) {
            FailRun("cannot write " + output.path + ": the folder " + folder.string() + " does not exist");
        }
        const auto [other, fresh] = written.emplace(FileIdentity(output.path), &output);
        if (!fresh) {
            FailUsage(other->second->role + " " + other->second->path + " and " + output.role + " " + output.path +
                      " are the same file");
        }
    }
    for (const NamedFile& input : inputs) {
        if (input.path.empty() || input.path == "-") continue;
        const auto output = written.find(FileIdentity(input.path));
        if (output != written.end()) {
            FailUsage(output->second->role + " " + output->second->path + " would overwrite " + input.role + " " +
                      input.path);
        }
    }
}

}  // namespace cisffc
