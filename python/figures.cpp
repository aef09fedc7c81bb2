#include "figures.h"

#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"
#include "arrays.h"
#include "calibration_binding.h"

namespace vyrffc_python {

namespace {

// A 2-D uint8 array as an image, read in place where its layout allows.
struct Image {
    py::array keep;
    cv::Mat mat;
};

Image ImageArgument(const py::handle& object, const std::string& what) {
    Image image;
    image.keep = UsableLayout(AsArray(object, what), what, 2);
    image.mat = GrayHeader(image.keep, 0, image.keep.shape(0), image.keep.shape(1), image.keep.strides(0));
    return image;
}

// A figure with the unit it is printed in, so that str() prints it as the
// C++ interface and the tool do.
struct PyFigure {
    vyrffc::Figure figure;
    bool percent = false;

    std::string Text() const { return vyrffc::FormatFigure(figure, percent, percent ? 3 : 2); }
};

void BindLineStatistics(py::module_& m) {
    py::class_<vyrffc::LineStatistics>(m, "LineStatistics",
                                       "One image's statistics, its rows taken as repeated exposures of one line.")
        .def_readonly("rows", &vyrffc::LineStatistics::rows, "L, the rows (exposures).")
        .def_readonly("columns", &vyrffc::LineStatistics::columns, "W, the columns measured.")
        .def_readonly("mean", &vyrffc::LineStatistics::mean, "Mean over every measured pixel.")
        .def_readonly("temporal_variance", &vyrffc::LineStatistics::temporalVariance,
                      "Mean of the columns' variances over their rows.")
        .def_readonly("measured_spatial_variance", &vyrffc::LineStatistics::measuredSpatialVariance,
                      "Variance of the column means.")
        .def_readonly("spatial_variance", &vyrffc::LineStatistics::spatialVariance,
                      "measured_spatial_variance - temporal_variance / rows; may be negative.")
        .def_readonly("spatial_variance_uncertainty", &vyrffc::LineStatistics::spatialVarianceUncertainty,
                      "One standard deviation of spatial_variance from the temporal noise.")
        .def_readonly("clipped_low", &vyrffc::LineStatistics::clippedLow, "Share of measured pixels at 0.")
        .def_readonly("clipped_high", &vyrffc::LineStatistics::clippedHigh, "Share of measured pixels at 255.")
        .def("__repr__", [](const vyrffc::LineStatistics& s) {
            return "<vyrffc.LineStatistics " + std::to_string(s.columns) + " columns x " + std::to_string(s.rows) +
                   " rows, mean " + std::to_string(s.mean) + ">";
        });
}

void BindSensorFigures(py::module_& m) {
    py::class_<PyFigure>(m, "Figure", R"doc(One sensor figure.

value: the figure (a fraction for PRNU, gray levels for the others), or NaN
    when it cannot be measured; bound: True when it is known only as
    "< value"; why: the reason for NaN. str() prints it as the tool does:
    "0.178%", "< 0.05%", "1.23 DN", "n/a"; float() gives value.)doc")
        .def_property_readonly("value", [](const PyFigure& f) { return f.figure.value; })
        .def_property_readonly("bound", [](const PyFigure& f) { return f.figure.bound; })
        .def_property_readonly("why", [](const PyFigure& f) { return f.figure.why; })
        .def("__float__", [](const PyFigure& f) { return f.figure.value; })
        .def("__str__", &PyFigure::Text)
        .def("__repr__", [](const PyFigure& f) { return "<vyrffc.Figure " + f.Text() + ">"; });

    py::class_<vyrffc::SensorFigures>(m, "SensorFigures", R"doc(PRNU, DSNU and the temporal dark noise.

prnu (a fraction), dsnu and dark_noise (gray levels) are Figures; flat and
dark the LineStatistics they come from.)doc")
        .def_property_readonly("prnu", [](const vyrffc::SensorFigures& f) { return PyFigure{f.prnu, true}; })
        .def_property_readonly("dsnu", [](const vyrffc::SensorFigures& f) { return PyFigure{f.dsnu, false}; })
        .def_property_readonly("dark_noise",
                               [](const vyrffc::SensorFigures& f) { return PyFigure{f.darkNoise, false}; })
        .def_readonly("flat", &vyrffc::SensorFigures::flat)
        .def_readonly("dark", &vyrffc::SensorFigures::dark)
        .def("__str__", [](const vyrffc::SensorFigures& f) {
            return "PRNU " + PyFigure{f.prnu, true}.Text() + ", DSNU " + PyFigure{f.dsnu, false}.Text() +
                   ", dark noise " + PyFigure{f.darkNoise, false}.Text();
        });

    m.def(
        "measure_line",
        [](const py::handle& image, const std::optional<std::vector<int32_t>>& columns) {
            const Image in = ImageArgument(image, "the image");
            return vyrffc::MeasureLine(in.mat, columns.value_or(std::vector<int32_t>{}));
        },
        py::arg("image"), py::arg("columns") = py::none(),
        R"doc(The statistics of a 2-D uint8 image whose rows are repeated exposures of
one line, over `columns` (None: every column). Fewer than 2 rows or 2
columns raises vyrffc.Error ("image unusable"), a column outside the image
("column outside the image").)doc");
    m.def(
        "sensor_figures",
        [](const py::handle& flat, const py::handle& dark, const std::optional<std::vector<int32_t>>& columns) {
            const Image f = ImageArgument(flat, "the flat image");
            const Image d = ImageArgument(dark, "the dark image");
            return vyrffc::MeasureSensorFigures(f.mat, d.mat, columns.value_or(std::vector<int32_t>{}));
        },
        py::arg("flat"), py::arg("dark"), py::arg("columns") = py::none(),
        R"doc(PRNU, DSNU and the temporal dark noise of a flat and a dark image (2-D
uint8, rows as repeated exposures) over `columns` (None: every column), as
EMVA 1288 defines them for a line sensor. Take the flat image nearest half
of saturation (nearest_half_saturation). A variance the images cannot tell
from noise gives a bound; a clipped flat gives no PRNU, a clipped dark no
DSNU or dark noise.)doc");
    m.def(
        "nearest_half_saturation",
        [](const std::vector<vyrffc::LineStatistics>& flats,
           const vyrffc::LineStatistics& dark) -> std::optional<int> {
            const int index = vyrffc::NearestHalfSaturation(flats, dark);
            if (index < 0) return std::nullopt;
            return index;
        },
        py::arg("flats"), py::arg("dark"),
        "The index of the unclipped flat whose mean above the dark is nearest half of saturation; None when "
        "every one is clipped.");
}

py::dict ImageAssessment(const vyrffc::CalibrationImageAssessment& a) {
    py::dict d;
    d["index"] = a.index;
    d["level"] = a.level;
    d["inside"] = a.inside;
    d["clipped"] = a.clipped;
    d["row_correlation"] = a.rowCorrelation;
    d["scene_like"] = a.sceneLike;
    d["residual_non_uniformity"] = a.residualNonUniformity;
    return d;
}

void BindVerdict(py::module_& m) {
    using Verdict = vyrffc::CalibrationSetVerdict;
    py::class_<Verdict>(m, "CalibrationSetVerdict", R"doc(How well a calibration set can calibrate.

range_low, range_high: the range the levels are judged in (the fitting range;
0 to 255 for the segmented run). images: one dict per image judged (index,
level, inside, clipped, row_correlation, scene_like,
residual_non_uniformity). warnings: one line each, what to do; empty for a
good set.)doc")
        .def_readonly("range_low", &Verdict::rangeLow)
        .def_readonly("range_high", &Verdict::rangeHigh)
        .def_readonly("correction_mode", &Verdict::correctionMode)
        .def_property_readonly("images",
                               [](const Verdict& v) {
                                   py::list images;
                                   for (const auto& a : v.images) images.append(ImageAssessment(a));
                                   return images;
                               })
        .def_readonly("skipped_images", &Verdict::skippedImages)
        .def_readonly("levels_inside", &Verdict::levelsInside)
        .def_readonly("lowest_inside", &Verdict::lowestInside)
        .def_readonly("highest_inside", &Verdict::highestInside)
        .def_readonly("largest_gap", &Verdict::largestGap)
        .def_readonly("extrapolates_low", &Verdict::extrapolatesLow)
        .def_readonly("extrapolates_high", &Verdict::extrapolatesHigh)
        .def_readonly("clipped_images", &Verdict::clippedImages)
        .def_readonly("scene_like_images", &Verdict::sceneLikeImages)
        .def_readonly("flagged_share", &Verdict::flaggedShare)
        .def_readonly("residual_non_uniformity", &Verdict::residualNonUniformity)
        .def_readonly("warnings", &Verdict::warnings)
        .def("__repr__", [](const Verdict& v) {
            return "<vyrffc.CalibrationSetVerdict " + std::to_string(v.images.size()) + " images, " +
                   std::to_string(v.warnings.size()) + " warnings>";
        });

    m.def(
        "assess",
        [](const py::handle& calibration, const py::handle& images) {
            const vyrffc::Calibration& made = CalibrationOf(calibration);
            const Images frames = ImagesArgument(images);
            py::gil_scoped_release release;
            return vyrffc::AssessCalibrationSet(made, frames.mats);
        },
        py::arg("calibration"), py::arg("images"),
        R"doc(Judges the images a calibration was made from (a list of 2-D uint8 arrays
or one 3-D array, in the order it used them): how their levels cover the
fitting range, clipped images, frames of a scene instead of a flat target,
flagged columns and the residual non-uniformity of the set corrected through
the calibration. Returns a CalibrationSetVerdict.)doc");
}

}  // namespace

void BindFigures(py::module_& m) {
    BindLineStatistics(m);
    BindSensorFigures(m);
    BindVerdict(m);
}

}  // namespace vyrffc_python
