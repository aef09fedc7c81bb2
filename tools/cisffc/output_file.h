// Every file the tool writes goes through the library's writer (whole or not
// at all, see vyrffc::WriteFile), with an interrupt held off until the write
// is done. Images are encoded here and handed over as bytes.
#ifndef CISFFC_OUTPUT_FILE_H
#define CISFFC_OUTPUT_FILE_H

#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace cisffc {

// "-" writes to standard output.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Encodes the image in the format its extension names (.bmp, .png, .tif),
// through `encoded` when the caller keeps one buffer for many images.
void WriteImageAtomically(const std::string& path, const cv::Mat& image, std::vector<uchar>* encoded = nullptr);

// The same for the report's pictures, which are mostly flat white: the
// strongest PNG compression halves them. Camera images gain nothing from it
// and take five times longer, so they keep the image library's default.
void WritePictureAtomically(const std::string& path, const cv::Mat& picture);

// Creates the folder (and its parents) when missing; a failed run error if
// that is impossible or the path is something else. Only for the folders an
// option names as a folder to fill (correct --out, demo --out).
void EnsureFolder(const std::string& folder);

// One output or input of a command, with what the user called it
// ("--save", "the calibration image", ...). An output's folder must be there
// unless the command makes it (correct --out).
struct NamedFile {
    std::string role;
    std::string path;
    bool folderMade = false;
};

// Refuses, before any work, two outputs that are one file (however spelled,
// through a link or a hard link), an output that is one of the inputs, more
// than one output on standard output ("-"), and an output into a folder that
// does not exist.
void CheckOutputs(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs);

}  // namespace cisffc

#endif  // CISFFC_OUTPUT_FILE_H
