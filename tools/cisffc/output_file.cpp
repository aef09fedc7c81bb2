#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "images.h"
#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

// Longest file name most file systems take.
constexpr size_t kMaxNameBytes = 255;

std::string Reason() { return std::strerror(errno); }

bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// ".NAME.XXXXXXXXXXXX.tmp" beside the target, NAME cut short enough that the
// whole stays within the file system's name limit.
std::string TemporaryName(const fs::path& target, std::mt19937_64& random) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix = ".";
    for (int i = 0; i < 12; ++i) suffix += kDigits[random() % 36];
    suffix += ".tmp";
    std::string name = target.filename().string();
    const size_t room = kMaxNameBytes - 1 - suffix.size();
    if (name.size() > room) name.resize(room);
    return (target.parent_path() / ("." + name + suffix)).string();
}

void WriteInPlace(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) FailRun("cannot open " + path + " for writing: " + Reason());
    const bool ok = WriteAll(fd, bytes);
    const std::string reason = Reason();
    if (::close(fd) != 0 || !ok) FailRun("cannot write " + path + ": " + reason);
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (path == "-") {
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::cout.flush();
        if (!std::cout) FailRun("cannot write to standard output");
        return;
    }
    const fs::path target(path);
    struct stat existing {};
    const bool exists = ::lstat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) FailRun("cannot write " + path + ": it is a folder");
        WriteInPlace(path, bytes);
        return;
    }
    if (!target.parent_path().empty()) EnsureFolder(target.parent_path().string());

    std::mt19937_64 random(std::random_device{}());
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryName(target, random);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) FailRun("cannot create a temporary file beside " + path + ": " + Reason());
    bool ok = WriteAll(fd, bytes);
    if (ok && exists) ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    const std::string reason = Reason();
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = ok ? Reason() : reason;
        ::unlink(temporary.c_str());
        FailRun("cannot write " + path + ": " + why);
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

}  // namespace cisffc
