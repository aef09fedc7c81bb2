#include "arrays.h"

#include <cstdint>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc_python {

std::string Describe(const py::array& array) {
    return "dtype " + py::str(array.dtype()).cast<std::string>() + " and shape " +
           py::str(array.attr("shape")).cast<std::string>();
}

bool IsUint8(const py::array& array) { return array.dtype().kind() == 'u' && array.itemsize() == 1; }

py::array AsArray(const py::handle& object, const std::string& what) {
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error(what + " must be a numpy array, not " +
                             py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>());
    }
    return py::reinterpret_borrow<py::array>(object);
}

cv::Mat GrayHeader(const py::array& array, py::ssize_t offset, py::ssize_t rows, py::ssize_t cols,
                   py::ssize_t rowStride) {
    if (rows == 0 || cols == 0) return cv::Mat();
    auto* data = static_cast<uint8_t*>(const_cast<void*>(array.data())) + offset;
    return cv::Mat(static_cast<int>(rows), static_cast<int>(cols), CV_8UC1, data,
                   rows == 1 ? cv::Mat::AUTO_STEP : static_cast<size_t>(rowStride));
}

namespace {

bool LinesInPlace(const py::array& array) {
    const py::ssize_t last = array.ndim() - 1;
    bool inPlace = array.strides(last) == 1;
    for (py::ssize_t d = 0; d < last; ++d) {
        inPlace = inPlace && (array.shape(d) <= 1 || array.strides(d) >= array.shape(d + 1) * array.strides(d + 1));
    }
    return inPlace;
}

}  // namespace

py::array UsableLayout(const py::array& array, const std::string& what, py::ssize_t dims) {
    if (!IsUint8(array) || array.ndim() != dims) {
        throw vyrffc::Error(vyrffc::ErrorReason::kImageUnusable,
                            what + " has " + Describe(array) + "; it must be a " + std::to_string(dims) +
                                "-D uint8 array (8-bit gray, one sensor line per row)");
    }
    const py::ssize_t last = dims - 1;
    // The library indexes rows and columns with 32-bit ints.
    if (array.shape(last - 1) > INT32_MAX || array.shape(last) > INT32_MAX) {
        throw vyrffc::Error(vyrffc::ErrorReason::kImageUnusable,
                            what + " has " + Describe(array) + ", beyond what the library indexes: at most " +
                                std::to_string(INT32_MAX) + " rows and as many columns");
    }
    if (LinesInPlace(array)) return array;
    // A copy that cannot be made raises (MemoryError) rather than giving nothing.
    return py::array_t<uint8_t, py::array::c_style | py::array::forcecast>(array);
}

bool WritableInPlace(const py::array& array) { return array.writeable() && LinesInPlace(array); }

Images ImagesArgument(const py::handle& images) {
    Images out;
    if (py::isinstance<py::array>(images)) {
        const py::array stack = UsableLayout(py::reinterpret_borrow<py::array>(images), "the image stack", 3);
        out.keep.push_back(stack);
        for (py::ssize_t i = 0; i < stack.shape(0); ++i) {
            out.mats.push_back(GrayHeader(stack, i * stack.strides(0), stack.shape(1), stack.shape(2),
                                          stack.strides(1)));
        }
        return out;
    }
    if (!py::isinstance<py::sequence>(images) || py::isinstance<py::str>(images)) {
        throw py::type_error("images must be a list of 2-D uint8 arrays or a 3-D uint8 array");
    }
    size_t index = 0;
    for (const py::handle item : images) {
        const std::string what = "image " + std::to_string(index++);
        const py::array image = UsableLayout(AsArray(item, what), what, 2);
        out.keep.push_back(image);
        out.mats.push_back(GrayHeader(image, 0, image.shape(0), image.shape(1), image.strides(0)));
    }
    return out;
}

py::array Pieces(const std::vector<std::vector<std::vector<float>>>& table, size_t coefficients) {
    std::vector<float> values;
    values.reserve(table.size() * 2 * coefficients);
    for (const std::vector<std::vector<float>>& pieces : table) {
        for (size_t p = 0; p < 2; ++p) {
            for (size_t c = 0; c < coefficients; ++c) {
                values.push_back(p < pieces.size() && c < pieces[p].size() ? pieces[p][c] : 0.0f);
            }
        }
    }
    return Frozen(std::move(values), {static_cast<py::ssize_t>(table.size()), py::ssize_t{2},
                                      static_cast<py::ssize_t>(coefficients)});
}

}  // namespace vyrffc_python
