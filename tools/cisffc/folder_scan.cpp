#include "folder_scan.h"

#include <filesystem>
#include <map>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "tool_error.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ListPattern(const std::string& pattern) {
    std::vector<cv::String> found;
    try {
        cv::glob(pattern, found, false);
    } catch (const cv::Exception&) {
        found.clear();  // the listing throws when the pattern's folder does not exist
    }
    return {found.begin(), found.end()};
}

ImageFile ReadImageFile(const std::string& path) {
    ImageFile file;
    file.path = path;
    cv::Mat image;
    try {
        image = cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty()) {
        return file;
    }
    file.readable = true;
    file.rows = image.rows;
    file.cols = image.cols;
    cv::Mat means;
    image.convertTo(image, CV_32F);
    cv::reduce(image, means, 0, cv::REDUCE_AVG);
    file.columnMeans.assign(means.ptr<float>(0), means.ptr<float>(0) + means.cols);
    return file;
}

}  // namespace

FolderScan ScanFolder(const std::string& folderArgument) {
    if (!fs::exists(folderArgument)) {
        FailRun("the folder " + folderArgument + " does not exist");
    }
    if (!fs::is_directory(folderArgument)) {
        FailRun(folderArgument + " is not a folder");
    }
    FolderScan scan;
    scan.folder = folderArgument;
    if (scan.folder.back() != '/') {
        // The library appends "*.bmp" as it is, so a folder without its
        // separator would name files beside the folder instead of inside it.
        scan.folder += '/';
        scan.separatorAdded = true;
        scan.separatorMattered = ListPattern(folderArgument + "*.bmp") != ListPattern(scan.folder + "*.bmp");
    }
    for (const std::string& path : ListPattern(scan.folder + "*.bmp")) {
        scan.files.push_back(ReadImageFile(path));
    }
    return scan;
}

void MajoritySize(const FolderScan& scan, int32_t* height, int32_t* width) {
    std::map<std::pair<int32_t, int32_t>, int> counts;
    int best = 0;
    *height = 0;
    *width = 0;
    for (const ImageFile& file : scan.files) {
        if (!file.readable) continue;
        const int count = ++counts[{file.rows, file.cols}];
        if (count > best) {
            best = count;
            *height = file.rows;
            *width = file.cols;
        }
    }
}

ImageCounts CountImages(const FolderScan& scan, int32_t height, int32_t width) {
    ImageCounts counts;
    for (const ImageFile& file : scan.files) {
        ++counts.found;
        const std::string name = fs::path(file.path).filename().string();
        if (!file.readable) {
            counts.unreadable.push_back(name);
        } else if (file.rows != height || file.cols != width) {
            counts.wrongSize.push_back(name);
        } else {
            ++counts.used;
        }
    }
    return counts;
}

bool IsSaturated(const std::vector<float>& columnMeans, const std::vector<int32_t>& referenceColumns) {
    for (int32_t column : referenceColumns) {
        if (column >= 0 && static_cast<size_t>(column) < columnMeans.size() && columnMeans[column] < 255.0f) {
            return false;
        }
    }
    return true;
}

}  // namespace cisffc
