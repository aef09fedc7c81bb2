// What the tool itself sees in a calibration folder: the files the library's
// "*.bmp" pattern reaches, their sizes, and which of them the library can
// use. The library answers a failed run with false only; this look at the
// folder turns that into a reason.
#ifndef CISFFC_FOLDER_SCAN_H
#define CISFFC_FOLDER_SCAN_H

#include <cstdint>
#include <string>
#include <vector>

namespace cisffc {

struct ImageFile {
    std::string path;
    bool readable = false;
    int32_t rows = 0;
    int32_t cols = 0;
    std::vector<float> columnMeans;  // mean gray of every column, empty when unreadable
};

struct FolderScan {
    std::string folder;            // as handed to the library, ending with a separator
    bool separatorAdded = false;   // the command line lacked the trailing separator
    bool separatorMattered = false;  // ... and without it the pattern finds other files
    std::vector<ImageFile> files;  // every file the pattern matches, in listing order
};

// Lists and reads the folder's "*.bmp" files. Fails (status 1) when the
// folder does not exist or is not a folder.
FolderScan ScanFolder(const std::string& folderArgument);

// The size most readable images have (the first such size on a tie); 0 x 0
// when nothing is readable.
void MajoritySize(const FolderScan& scan, int32_t* height, int32_t* width);

struct ImageCounts {
    int found = 0;
    int used = 0;  // readable and of the expected size
    std::vector<std::string> wrongSize;   // file names of readable images of another size
    std::vector<std::string> unreadable;  // file names the image reader rejects
};

ImageCounts CountImages(const FolderScan& scan, int32_t height, int32_t width);

// True when `columnMeans` is 255 at every reference column: the image shows
// nothing but saturation where the level is measured.
bool IsSaturated(const std::vector<float>& columnMeans, const std::vector<int32_t>& referenceColumns);

}  // namespace cisffc

#endif  // CISFFC_FOLDER_SCAN_H
