// Row pointers of 8-bit images: the correction walks images row by row, and
// the output's own type does not matter once it has the input's size.
#ifndef VYR_FFC_IMAGE_ROWS_H
#define VYR_FFC_IMAGE_ROWS_H

#include <cstddef>
#include <cstdint>

#include <opencv2/core/mat.hpp>

namespace ffc {

inline const uint8_t* RowOf(const cv::Mat& image, int row) {
    return image.data + static_cast<size_t>(row) * image.step[0];
}
inline uint8_t* RowOf(cv::Mat& image, int row) {
    return image.data + static_cast<size_t>(row) * image.step[0];
}

}  // namespace ffc

#endif  // VYR_FFC_IMAGE_ROWS_H
