// Output files appear whole or not at all: each is written under a temporary
// name in its own folder and renamed into place once complete.
#ifndef CISFFC_OUTPUT_FILE_H
#define CISFFC_OUTPUT_FILE_H

#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace cisffc {

void WriteFileAtomically(const std::string& path, const std::string& bytes);

// Encodes the image in the format its extension names (.png, .bmp, ...).
void WriteImageAtomically(const std::string& path, const cv::Mat& image);

// Creates the folder (and its parents) when missing; a failed run error if
// that is impossible or the path is something else.
void EnsureFolder(const std::string& folder);

}  // namespace cisffc

#endif  // CISFFC_OUTPUT_FILE_H
