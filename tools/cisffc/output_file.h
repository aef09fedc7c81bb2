// Output files appear whole or not at all. A regular file (or a new name) is
// written under a temporary name beside it, created exclusively, and renamed
// over it once complete, keeping the old file's permissions. Anything else
// (a symlink, a FIFO, a character device) is written in place: a link is
// followed to its target, a FIFO or device receives the bytes directly.
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
// that is impossible or the path is something else.
void EnsureFolder(const std::string& folder);

}  // namespace cisffc

#endif  // CISFFC_OUTPUT_FILE_H
