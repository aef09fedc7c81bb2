#include "files.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "arrays.h"
#include "cis_simulator.h"
#include "errors.h"

namespace vyrffc_python {

namespace {

// The decoded image handed to numpy as it is: the array keeps the cv::Mat
// that owns the pixels, so nothing is copied.
py::array ReadImage(const py::object& path) {
    const std::string source = PathArgument(path);
    auto image = std::make_unique<cv::Mat>();
    {
        py::gil_scoped_release release;
        *image = vyrffc::ReadImageToCorrect(source);
    }
    const std::vector<py::ssize_t> shape = {image->rows, image->cols};
    const std::vector<py::ssize_t> strides = {static_cast<py::ssize_t>(image->step[0]), 1};
    uint8_t* data = image->data;
    const py::capsule base(image.get(), [](void* kept) { delete static_cast<cv::Mat*>(kept); });
    image.release();
    return py::array(py::dtype::of<uint8_t>(), shape, strides, data, base);
}

std::string LowerExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

void WriteImage(const py::object& path, const py::handle& image) {
    const std::string target = PathArgument(path);
    const std::string extension = LowerExtension(target);
    if (extension != ".bmp" && extension != ".png" && extension != ".tif" && extension != ".tiff") {
        throw py::value_error("cannot write an image named " + target + " (name it .bmp, .png or .tif)");
    }
    const py::array pixels = UsableLayout(AsArray(image, "the image"), "the image", 2);
    if (pixels.size() == 0) {
        throw vyrffc::Error(vyrffc::ErrorReason::kImageUnusable,
                            "the image has " + Describe(pixels) + ": an image file holds at least one pixel");
    }
    const cv::Mat gray = GrayHeader(pixels, 0, pixels.shape(0), pixels.shape(1), pixels.strides(0));
    py::gil_scoped_release release;
    std::vector<uchar> encoded;
    bool encodedOk = false;
    try {
        encodedOk = cv::imencode(extension, gray, encoded);
    } catch (const cv::Exception&) {
        encodedOk = false;
    }
    if (!encodedOk) {
        throw vyrffc::Error(vyrffc::ErrorReason::kImageUnusable, "the image library could not encode " + target);
    }
    vyrffc::WriteFile(target, std::string_view(reinterpret_cast<const char*>(encoded.data()), encoded.size()));
}

py::tuple Simulate(const py::object& folder, int width, int height, int levels, int chips, int darkColumns,
                   uint32_t seed, int heldout) {
    if (width < 1 || height < 1 || levels < 2 || chips < 1 || chips > width || darkColumns < 0 ||
        darkColumns > width || heldout < 0) {
        throw py::value_error("simulate needs width >= chips >= 1, height >= 1, levels >= 2, "
                              "0 <= dark_columns <= width and heldout >= 0");
    }
    const std::string path = PathArgument(folder);
    cissim::SimulatorOptions options;
    options.width = width;
    options.height = height;
    options.levels = levels;
    options.chips = chips;
    options.darkColumns = darkColumns;
    options.seed = seed;
    std::vector<std::string> calibration, held;
    {
        py::gil_scoped_release release;
        calibration = cissim::WriteCalibrationFolder(path, options);
        if (heldout > 0) {
            // The dark image goes beside the held-out images, as the tool
            // writes it: in the calibration folder it would be calibrated on.
            const std::string base = (path.empty() || path.back() == '/' ? path : path + '/') + "heldout";
            held = cissim::WriteHeldOutImages(base, options, heldout);
            cissim::WriteDarkImage(base, options);
        }
    }
    return py::make_tuple(calibration, held);
}

}  // namespace

void BindFiles(py::module_& m) {
    m.def("read_image", &ReadImage, py::arg("path"),
          R"doc(Reads an 8-bit gray image file (BMP, PNG, TIFF, ...) into a 2-D uint8 array.

Colour, 16-bit and other images that are not 8-bit gray raise vyrffc.Error
("image unusable"); a missing, damaged or oversized file raises
vyrffc.FileError ("file unreadable").)doc");
    m.def("write_image", &WriteImage, py::arg("path"), py::arg("image"),
          R"doc(Writes a 2-D uint8 array as an 8-bit gray image file; the name's extension
(.bmp, .png, .tif) chooses the format.

The file is written whole or not at all: under a temporary name beside it,
then renamed over it. Another dtype or number of dimensions raises
vyrffc.Error ("image unusable"); a folder that does not exist,
vyrffc.FileError ("file unreadable").)doc");
    m.def("simulate", &Simulate, py::arg("folder"), py::arg("width") = 2048, py::arg("height") = 16,
          py::arg("levels") = 48, py::arg("chips") = 8, py::arg("dark_columns") = 6, py::arg("seed") = 1,
          py::arg("heldout") = 0,
          R"doc(Writes the images of a simulated CIS module looking at a white target.

folder gets one calibration image per light level, "level_000.bmp", ...,
from dark to beyond saturation; with heldout > 0, folder/heldout/ gets that
many flat images at mid-gray lights between the calibration levels and
"dark.bmp", an image taken with no light. The same seed writes the same
images on any machine.

Returns (calibration image paths, held-out image paths); the dark image is
not among them.)doc");
}

}  // namespace vyrffc_python
