// numpy arrays seen as 8-bit gray images in place, and results handed out as
// read-only numpy arrays.
#ifndef VYRFFC_PYTHON_ARRAYS_H
#define VYRFFC_PYTHON_ARRAYS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core/mat.hpp>

namespace vyrffc_python {

namespace py = pybind11;

// "dtype uint16 and shape (4, 5)", for messages.
std::string Describe(const py::array& array);

bool IsUint8(const py::array& array);

// `object` as an array; anything else raises TypeError naming `what`.
py::array AsArray(const py::handle& object, const std::string& what);

// An 8-bit gray image over rows x cols bytes of `array`, starting `offset`
// bytes in, one row every `rowStride` bytes.
cv::Mat GrayHeader(const py::array& array, py::ssize_t offset, py::ssize_t rows, py::ssize_t cols,
                   py::ssize_t rowStride);

// `array` itself when it is a uint8 array of `dims` dimensions whose lines are
// contiguous and do not overlap (any C-contiguous array, or whole rows picked
// from a larger one), a C-contiguous copy of any other uint8 array of `dims`
// dimensions; anything else is refused with kImageUnusable.
py::array UsableLayout(const py::array& array, const std::string& what, py::ssize_t dims);

// Whether rows of `array` (2-D, uint8) can be written in place through a
// header: contiguous lines that do not overlap.
bool WritableInPlace(const py::array& array);

// Images in memory, with the arrays whose memory their headers point into.
struct Images {
    std::vector<cv::Mat> mats;
    std::vector<py::array> keep;
};

// A list of 2-D uint8 arrays or one 3-D uint8 array, read in place.
Images ImagesArgument(const py::handle& images);

// A read-only array over `values`, which it keeps. Its base is a capsule,
// which numpy cannot make writable: setflags(write=True) fails on the array
// and on every view of it, so an array shared between callers stays as made.
template <typename T>
py::array Frozen(std::vector<T> values, std::vector<py::ssize_t> shape, const py::dtype& dtype = py::dtype::of<T>()) {
    values.reserve(1);  // a data pointer even when empty, so numpy does not allocate its own
    auto owner = std::make_unique<std::vector<T>>(std::move(values));
    const py::capsule base(owner.get(), [](void* kept) { delete static_cast<std::vector<T>*>(kept); });
    const T* data = owner.release()->data();
    py::array array(dtype, std::move(shape), {}, data, base);
    array.attr("setflags")(py::arg("write") = false);
    return array;
}

// A (rows, cols) copy of per-column rows; a row of another length is cut or
// padded with zeros.
template <typename T>
py::array Table(const std::vector<std::vector<T>>& rows, size_t cols) {
    std::vector<T> values;
    values.reserve(rows.size() * cols);
    for (const std::vector<T>& row : rows) {
        for (size_t c = 0; c < cols; ++c) values.push_back(c < row.size() ? row[c] : T{});
    }
    return Frozen(std::move(values), {static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(cols)});
}

template <typename T>
py::array Vector(const std::vector<T>& values) {
    return Frozen(values, {static_cast<py::ssize_t>(values.size())});
}

// A (columns, 2, coefficients) copy of two-piece fits.
py::array Pieces(const std::vector<std::vector<std::vector<float>>>& table, size_t coefficients);

}  // namespace vyrffc_python

#endif  // VYRFFC_PYTHON_ARRAYS_H
