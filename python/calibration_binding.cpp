#include "calibration_binding.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"
#include "arrays.h"
#include "errors.h"

namespace vyrffc_python {

namespace {

[[noreturn]] void Refuse(vyrffc::ErrorReason reason, const std::string& message) {
    throw vyrffc::Error(reason, message);
}

vyrffc::CalibrationRun ParseRun(const std::string& run) {
    if (const std::optional<vyrffc::CalibrationRun> known = vyrffc::RunNamed(run)) return *known;
    Refuse(vyrffc::ErrorReason::kInvalidSettings,
           "unknown run '" + run + "': use 'current', 'previous' or 'segmented'");
}

vyrffc::Generation ParseGeneration(const std::string& generation) {
    if (generation == "current") return vyrffc::Generation::kCurrent;
    if (generation == "previous") return vyrffc::Generation::kPrevious;
    Refuse(vyrffc::ErrorReason::kInvalidSettings,
           "unknown generation '" + generation + "': use 'current' or 'previous'");
}

// A mode as a number of vyrffc.MODES or its name; None: the calibration's
// default for the rule.
int ParseMode(const py::object& mode, vyrffc::CalibrationRun run, vyrffc::Generation rule) {
    if (mode.is_none()) return vyrffc::DefaultMode(run, rule);
    std::optional<int> known;
    if (py::isinstance<py::str>(mode)) {
        known = vyrffc::ModeNamed(mode.cast<std::string>());
    } else if (!py::isinstance<py::bool_>(mode)) {
        // Any integer, numpy's included; anything else is no mode.
        PyObject* index = PyNumber_Index(mode.ptr());
        if (index == nullptr) {
            PyErr_Clear();
        } else {
            const py::int_ number = py::reinterpret_steal<py::int_>(index);
            for (int candidate : vyrffc::AllModes()) {
                if (number.equal(py::int_(candidate))) known = candidate;
            }
        }
    }
    if (known) return *known;
    std::string names;
    for (int number : vyrffc::AllModes()) names += std::to_string(number) + " '" + vyrffc::ModeName(number) + "', ";
    Refuse(vyrffc::ErrorReason::kInvalidSettings,
           "unknown mode " + py::repr(mode).cast<std::string>() + ": use one of " + names + "or None for the default");
}

// Notes as a dict (or pairs) of str to str.
std::vector<std::pair<std::string, std::string>> NotesArgument(const py::object& notes) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (notes.is_none()) return pairs;
    const py::object items = py::isinstance<py::dict>(notes) ? notes.attr("items")() : notes;
    for (const py::handle item : items) {
        const py::tuple pair = py::reinterpret_borrow<py::object>(item).cast<py::tuple>();
        if (pair.size() != 2 || !py::isinstance<py::str>(pair[0]) || !py::isinstance<py::str>(pair[1])) {
            throw py::type_error("notes must map str keys to str values");
        }
        pairs.emplace_back(pair[0].cast<std::string>(), pair[1].cast<std::string>());
    }
    return pairs;
}

vyrffc::CameraIdentity CameraArgument(const std::optional<std::string>& model, const std::optional<std::string>& serial,
                                      const py::object& notes) {
    return {model.value_or(""), serial.value_or(""), NotesArgument(notes)};
}

py::dict CameraDict(const vyrffc::CameraIdentity& camera) {
    py::dict notes;
    for (const auto& [key, value] : camera.notes) notes[py::str(key)] = value;
    py::dict dict;
    dict["model"] = camera.model.empty() ? py::object(py::none()) : py::object(py::str(camera.model));
    dict["serial"] = camera.serial.empty() ? py::object(py::none()) : py::object(py::str(camera.serial));
    dict["notes"] = notes;
    return dict;
}

vyrffc::Settings MakeSettings(const std::string& run, int64_t digits,
                              const std::optional<std::vector<int32_t>>& referenceColumns,
                              const std::optional<std::vector<std::vector<int32_t>>>& groups,
                              const std::optional<int32_t>& width, const std::optional<int32_t>& height,
                              int32_t groupWidth) {
    vyrffc::Settings settings;
    settings.run = ParseRun(run);
    if (digits < 0 || digits > UINT32_MAX) {
        Refuse(vyrffc::ErrorReason::kInvalidSettings, "digits must be a small positive number, not " +
                                                          std::to_string(digits));
    }
    settings.significantDigits = static_cast<uint32_t>(digits);
    if (referenceColumns) settings.referenceColumns = *referenceColumns;
    if (groups) settings.columnGroups = *groups;
    settings.imageWidth = width.value_or(0);
    settings.imageHeight = height.value_or(0);
    settings.groupWidth = groupWidth;
    return settings;
}

// A calibration and the arrays already handed out for it. The calibration is
// immutable, so each array is made once, read-only, and shared.
struct PyCalibration {
    explicit PyCalibration(vyrffc::Calibration made) : calibration(std::move(made)) {}

    const vyrffc::Results& results() const { return calibration.results(); }

    template <typename Make>
    py::object Cached(const char* name, Make make) {
        if (!cache.contains(name)) cache[name] = make();
        return cache[name];
    }

    vyrffc::Calibration calibration;
    py::dict cache;
};

PyCalibration Calibrate(const py::object& folder, const std::string& run, int64_t digits,
                        const std::optional<std::vector<int32_t>>& referenceColumns,
                        const std::optional<std::vector<std::vector<int32_t>>>& groups,
                        const std::optional<int32_t>& width, const std::optional<int32_t>& height,
                        int32_t groupWidth, const std::optional<std::string>& cameraModel,
                        const std::optional<std::string>& cameraSerial, const py::object& notes) {
    const std::string path = PathArgument(folder);
    vyrffc::Settings settings = MakeSettings(run, digits, referenceColumns, groups, width, height, groupWidth);
    settings.camera = CameraArgument(cameraModel, cameraSerial, notes);
    std::vector<std::string> warnings;
    std::optional<vyrffc::Calibration> made;
    {
        py::gil_scoped_release release;
        made.emplace(vyrffc::CalibrateFolder(path, settings, &warnings));
    }
    WarnSkipped(warnings);
    return PyCalibration(std::move(*made));
}

PyCalibration CalibrateImages(const py::object& images, const std::string& run, int64_t digits,
                              const std::optional<std::vector<int32_t>>& referenceColumns,
                              const std::optional<std::vector<std::vector<int32_t>>>& groups,
                              const std::optional<int32_t>& width, const std::optional<int32_t>& height,
                              int32_t groupWidth, const std::optional<std::string>& cameraModel,
                              const std::optional<std::string>& cameraSerial, const py::object& notes) {
    vyrffc::Settings settings = MakeSettings(run, digits, referenceColumns, groups, width, height, groupWidth);
    settings.camera = CameraArgument(cameraModel, cameraSerial, notes);
    const Images frames = ImagesArgument(images);
    std::vector<std::string> warnings;
    std::optional<vyrffc::Calibration> made;
    {
        py::gil_scoped_release release;
        made.emplace(vyrffc::CalibrateImages(frames.mats, settings, &warnings));
    }
    WarnSkipped(warnings);
    return PyCalibration(std::move(*made));
}

// The image as (rows, W): a single line (W,) is one row, viewed in place.
py::array AsRows(const py::array& image) {
    if (image.ndim() == 1 && IsUint8(image)) return image.attr("reshape")(1, -1).cast<py::array>();
    return image;
}

// Refuses an image without a pixel by itself: the library would call it not
// 8-bit gray, which sends the caller looking in the wrong place.
void RequirePixels(const py::array& image) {
    if (IsUint8(image) && image.size() == 0 && (image.ndim() == 1 || image.ndim() == 2)) {
        Refuse(vyrffc::ErrorReason::kImageUnusable,
               "the image is empty (shape " + py::str(image.attr("shape")).cast<std::string>() +
                   "); it needs at least one line of at least one pixel");
    }
}

// `out` checked as numpy checks an output array: uint8, the image's shape,
// writable.
py::array OutputArgument(const py::handle& out, const py::array& image) {
    const py::array target = AsArray(out, "out");
    if (!IsUint8(target)) {
        throw py::type_error("out has " + Describe(target) + "; it must be a uint8 array");
    }
    if (!target.attr("shape").equal(image.attr("shape"))) {
        throw py::value_error("out has shape " + py::str(target.attr("shape")).cast<std::string>() +
                              " and the image " + py::str(image.attr("shape")).cast<std::string>() +
                              "; they must be the same");
    }
    if (!target.writeable()) throw py::value_error("out is read-only");
    return target;
}

// Corrects `in` into the lines of `target` (uint8, same rows and columns,
// lines contiguous) with the interpreter lock released.
void CorrectInto(const PyCalibration& self, const cv::Mat& in, const py::array& target, int mode,
                 vyrffc::Generation rule, int threads) {
    const cv::Mat header = GrayHeader(target, 0, target.shape(0), target.shape(1), target.strides(0));
    py::gil_scoped_release release;
    cv::Mat written = header;
    self.calibration.Correct(in, written, mode, rule, threads);
    // The output is written in place when it has the input's size; copy
    // otherwise rather than depend on it.
    if (written.data != header.data) {
        cv::Mat into = header;
        written.copyTo(into);
    }
}

py::array Correct(const PyCalibration& self, const py::handle& image, const py::object& modeArgument,
                  const std::optional<std::string>& generation, const std::optional<int64_t>& threads,
                  const py::object& out) {
    // Counts beyond an int are as many threads as the library uses, or as
    // negative as it refuses.
    const int count = static_cast<int>(std::clamp<int64_t>(threads.value_or(0), INT32_MIN, INT32_MAX));
    const vyrffc::Generation rule = generation ? ParseGeneration(*generation) : self.calibration.generation();
    const int mode = ParseMode(modeArgument, self.results().run, rule);
    const py::array given = AsArray(image, "the image");
    RequirePixels(given);
    const py::array input = UsableLayout(AsRows(given), "the image", 2);
    const cv::Mat in = GrayHeader(input, 0, input.shape(0), input.shape(1), input.strides(0));
    if (out.is_none()) {
        py::array_t<uint8_t> corrected({input.shape(0), input.shape(1)});
        CorrectInto(self, in, corrected, mode, rule, count);
        return given.ndim() == 1 ? corrected.attr("reshape")(-1).cast<py::array>() : py::array(std::move(corrected));
    }
    const py::array target = OutputArgument(out, given);
    const py::array rows = AsRows(target);
    // Written through directly when its lines are contiguous and it holds no
    // byte of the image; otherwise corrected aside and copied in.
    const bool overlaps =
        py::module_::import("numpy").attr("may_share_memory")(target, input).cast<bool>();
    if (WritableInPlace(rows) && !overlaps) {
        CorrectInto(self, in, rows, mode, rule, count);
    } else {
        py::array_t<uint8_t> corrected({input.shape(0), input.shape(1)});
        CorrectInto(self, in, corrected, mode, rule, count);
        rows[py::ellipsis()] = corrected;
    }
    return target;
}

PyCalibration LoadFile(const py::object& path) {
    const std::string source = PathArgument(path);
    std::optional<vyrffc::Calibration> loaded;
    {
        py::gil_scoped_release release;
        loaded.emplace(vyrffc::Calibration::Load(source));
    }
    return PyCalibration(std::move(*loaded));
}

const char* const kCalibrateArgs = R"doc(
run: "current", "previous" or "segmented".
digits: significant digits the coefficients are rounded to.
reference_columns: the columns whose level the others are mapped to;
    None: the middle fifth of the line (every column for the segmented run,
    which fits only these, sorted and without repeats).
groups: lists of columns compared for ripple; None: consecutive groups of
    group_width columns (a last group shorter than half of that joins none).
width, height: the image size to use; None: the size most images have.
camera_model, camera_serial: the camera, kept in the calibration and its
    file (Calibration.camera, Calibration.require_camera); None: not named.
notes: a dict of str to str kept beside them, e.g. {"site": "line 4"}.
    Model and serial up to 128 bytes, up to 64 notes (keys 1 to 64 bytes
    without '=', values up to 1024), UTF-8 without control characters;
    otherwise vyrffc.Error ("invalid settings").

Returns a Calibration. Raises vyrffc.Error (or vyrffc.FileError) with the
reason the calibration failed.)doc";

const char* const kLoadDoc =
    "Reads a calibration file written by Calibration.save (or by the C++ interface). A truncated, "
    "damaged, inconsistent or newer file raises vyrffc.Error with its reason.";

}  // namespace

void BindCalibration(py::module_& m) {
    py::class_<PyCalibration> calibrationClass(m, "Calibration", R"doc(A finished calibration, immutable.

Made by vyrffc.calibrate, vyrffc.calibrate_images, vyrffc.load and
Calibration.from_bytes; it pickles. Any number of threads may correct through
one calibration at the same time.

The array properties are read-only numpy arrays, made on first access and
shared by later ones (copy one to change it). W is the image width. Arrays a
run does not write have no rows: the segmented run has no tables, dark flags
or dark ranges; the low/high runs have no pieces or breakpoints.)doc");
    calibrationClass
        .def_property_readonly("run", [](const PyCalibration& c) { return vyrffc::RunName(c.results().run); },
                               "The run that made it: \"current\", \"previous\" or \"segmented\".")
        .def_property_readonly(
            "generation",
            [](const PyCalibration& c) {
                return c.calibration.generation() == vyrffc::Generation::kCurrent ? "current" : "previous";
            },
            "The correction rule correct() uses by default: \"current\" or \"previous\".")
        .def(
            "modes",
            [](const PyCalibration& c, const std::optional<std::string>& generation) {
                return c.calibration.Modes(generation ? ParseGeneration(*generation) : c.calibration.generation());
            },
            py::arg("generation") = py::none(),
            "The modes correct() serves with the rule of `generation` (None: the run's own), ascending; the "
            "default mode is listed as 7. Other modes read results this run does not make (they would give a "
            "constant image) and raise vyrffc.Error with reason \"mode unavailable\".")
        .def(
            "default_mode",
            [](const PyCalibration& c, const std::optional<std::string>& generation) {
                return vyrffc::DefaultMode(c.results().run, generation ? ParseGeneration(*generation)
                                                                        : c.calibration.generation());
            },
            py::arg("generation") = py::none(),
            "The mode correct() uses when none is given, with the rule of `generation` (None: the run's own): "
            "0 for the current run, 6 for the previous run with its own rule (0 with the current rule), 1 for the "
            "segmented run. Of the modes that correct every image (4 fails on a raw 255), these have the lowest "
            "residual non-uniformity and keep dark columns nearest their neighbours in dim light (measured on "
            "simulated 7,296-column modules: current run 0.81% against 0.88% for the cubic modes; previous run "
            "0.36% against 0.42% for mode 0; segmented run 1.47% against 2.13% for mode 0).")
        .def(
            "output_level",
            [](const PyCalibration& c, double raw, const py::object& mode, const std::optional<std::string>& generation) {
                const vyrffc::Generation rule = generation ? ParseGeneration(*generation) : c.calibration.generation();
                return vyrffc::OutputLevel(c.calibration, raw, ParseMode(mode, c.results().run, rule), rule);
            },
            py::arg("raw"), py::arg("mode") = py::none(), py::arg("generation") = py::none(),
            "The output level a raw level of the reference columns becomes in `mode` (None: default_mode()): the "
            "mean over the reference columns of what correct() writes for a line at the whole levels either side, "
            "interpolated. The current run stretches the gray scale (its gains are folded into its fits so that "
            "the fitting range fills 0..255), the previous run's modes 5, 6 and 7 multiply by 255 / its upper fit "
            "bound; mode 4 and the other runs' modes 0 and 1 keep the reference level.")
        .def_property_readonly(
            "camera", [](const PyCalibration& c) { return CameraDict(c.results().camera); },
            "The camera named when calibrating: a dict with 'model' and 'serial' (str, or None when not named) and "
            "'notes' (a dict of str, in key order). Files written before cameras were named give None and {}.")
        .def(
            "require_camera",
            [](const PyCalibration& c, const std::optional<std::string>& serial,
               const std::optional<std::string>& model) {
                vyrffc::RequireCamera(c.calibration, {model.value_or(""), serial.value_or(""), {}});
            },
            py::arg("serial") = py::none(), py::arg("model") = py::none(),
            "Raises vyrffc.Error (\"camera mismatch\") unless the calibration names a camera of this serial and "
            "model (None: not compared); naming neither raises \"invalid settings\".")
        .def(
            "keep_set_residuals",
            [](const PyCalibration& c, const vyrffc::CalibrationSetVerdict& verdict) {
                return PyCalibration(vyrffc::KeepSetResiduals(c.calibration, verdict));
            },
            py::arg("verdict"),
            "A copy of the calibration that keeps, per level of its set, the residual non-uniformity `verdict` "
            "(of assess) found there; save() writes them into its file.")
        .def_property_readonly(
            "set_residuals",
            [](PyCalibration& c) {
                return c.Cached("set_residuals", [&] {
                    std::vector<std::vector<float>> rows;
                    for (const vyrffc::LevelResidual& r : c.results().setResiduals) {
                        rows.push_back({r.level, r.nonUniformity});
                    }
                    return Table(rows, 2);
                });
            },
            "Per kept level of the calibration set (ascending) its level and residual non-uniformity (a fraction), "
            "float32 array (n, 2); empty when none were kept.")
        .def(
            "set_residual_at",
            [](const PyCalibration& c, double level) { return vyrffc::SetResidualAt(c.results(), level); },
            py::arg("level"),
            "The kept residual non-uniformity at a level of the reference columns, interpolated between the kept "
            "levels either side; nan outside them.")
        .def_property_readonly("digits", [](const PyCalibration& c) { return c.results().significantDigits; },
                               "Significant digits of the coefficients.")
        .def_property_readonly("width", [](const PyCalibration& c) { return c.results().imageWidth; },
                               "Image width W (sensor columns).")
        .def_property_readonly("height", [](const PyCalibration& c) { return c.results().imageHeight; },
                               "Image height (lines per calibration image).")
        .def_property_readonly(
            "reference_columns",
            [](PyCalibration& c) { return c.Cached("reference_columns", [&] { return Vector(c.results().referenceColumns); }); },
            "The reference columns, int32 array (N,).")
        .def_property_readonly(
            "groups",
            [](PyCalibration& c) {
                return c.Cached("groups", [&] {
                    py::list groups;
                    for (const auto& group : c.results().columnGroups) groups.append(Vector(group));
                    return py::tuple(groups);
                });
            },
            "The column groups compared for ripple, a tuple of int32 arrays.")
        .def_property_readonly(
            "fit_range",
            [](const PyCalibration& c) {
                return py::make_tuple(c.results().fitLowBound, c.results().fitHighBound);
            },
            "(low, high): the exclusive bounds of the raw gray values the fits of the low/high runs use.")
        .def_property_readonly(
            "tables",
            [](PyCalibration& c) { return c.Cached("tables", [&] { return Table(c.results().columnLuts, 256); }); },
            "Per column the table from raw gray to reference level, int32 array (W, 256).")
        .def_property_readonly(
            "quad",
            [](PyCalibration& c) { return c.Cached("quad", [&] { return Table(c.results().quadCoeffs, 3); }); },
            "Per column the quadratic coefficients in ascending powers, float32 array (W, 3).")
        .def_property_readonly(
            "cubic",
            [](PyCalibration& c) { return c.Cached("cubic", [&] { return Table(c.results().cubicCoeffs, 4); }); },
            "Per column the cubic coefficients in ascending powers, float32 array (W, 4).")
        .def_property_readonly(
            "dark_flags",
            [](PyCalibration& c) {
                return c.Cached("dark_flags", [&] {
                    const std::vector<int32_t>& flags = c.results().columnFlags;
                    std::vector<uint8_t> flagged(flags.size());
                    for (size_t i = 0; i < flags.size(); ++i) flagged[i] = flags[i] == -1;
                    return Frozen(std::move(flagged), {static_cast<py::ssize_t>(flags.size())},
                                  py::dtype::of<bool>());
                });
            },
            "Per column whether its raw value stays 0 over several low levels, bool array (W,).")
        .def_property_readonly(
            "dark_ranges",
            [](PyCalibration& c) {
                return c.Cached("dark_ranges", [&] { return Table(c.results().columnDarkRanges, 2); });
            },
            "Per flagged column the lowest and highest level seen at raw 0, int32 array (W, 2); zeros for "
            "other columns.")
        .def_property_readonly(
            "gains",
            [](const PyCalibration& c) {
                const vyrffc::Results& r = c.results();
                py::dict gains;
                gains["quad_gain"] = r.quadGain;
                gains["quad_offset"] = r.quadOffset;
                gains["cubic_gain"] = r.cubicGain;
                gains["cubic_offset"] = r.cubicOffset;
                gains["real_quad_gain"] = r.realQuadGain;
                gains["real_cubic_gain"] = r.realCubicGain;
                gains["range_gain"] = r.rangeGain;
                return gains;
            },
            "The run's gains and offsets as a dict of floats (float32 values): quad_gain, quad_offset, "
            "cubic_gain, cubic_offset, real_quad_gain and real_cubic_gain (current run: folded into the "
            "coefficients), range_gain (previous run). A run leaves the others at 0 (real gains at 1).")
        .def_property_readonly(
            "seg_quad",
            [](PyCalibration& c) { return c.Cached("seg_quad", [&] { return Pieces(c.results().segQuadCoeffs, 3); }); },
            "Segmented run: per column the [lower, upper] quadratic pieces, float32 array (W, 2, 3).")
        .def_property_readonly(
            "seg_cubic",
            [](PyCalibration& c) { return c.Cached("seg_cubic", [&] { return Pieces(c.results().segCubicCoeffs, 4); }); },
            "Segmented run: per column the [lower, upper] cubic pieces, float32 array (W, 2, 4).")
        .def_property_readonly(
            "seg_quad_breaks",
            [](PyCalibration& c) { return c.Cached("seg_quad_breaks", [&] { return Vector(c.results().segQuadBreaks); }); },
            "Segmented run: per column the gray level where the quadratic pieces meet (256: none), int32 (W,).")
        .def_property_readonly(
            "seg_cubic_breaks",
            [](PyCalibration& c) { return c.Cached("seg_cubic_breaks", [&] { return Vector(c.results().segCubicBreaks); }); },
            "Segmented run: per column the gray level where the cubic pieces meet (256: none), int32 (W,).")
        .def_property_readonly(
            "incomplete_columns",
            [](const PyCalibration& c) { return Vector(c.results().IncompleteColumns()); },
            "Segmented run: the listed columns without two pieces at both orders, int32 (K,).")
        .def("correct", &Correct, py::arg("image"), py::arg("mode") = py::none(), py::arg("generation") = py::none(),
             py::arg("threads") = py::none(), py::arg("out") = py::none(),
             R"doc(Corrects a camera image; returns the result, a new uint8 array or `out`.

image: a 2-D uint8 array, one sensor line per row, as wide as the
    calibration, or a single line of shape (W,). It is read in place when
    its rows are contiguous (any C-contiguous array, or rows picked from
    one); other uint8 arrays are copied first. Another dtype or number of
    dimensions, or no pixel at all, raises vyrffc.Error with reason "image
    unusable"; anything but a numpy array, TypeError.
out: None, or a writable uint8 array of the image's shape to write the
    result into (it may be the image itself); another dtype raises
    TypeError, another shape or a read-only array ValueError.
mode: a number or name of vyrffc.MODES ("quadratic", "cubic", "table",
    "dark-backward", "quadratic-dark-forward", "cubic-dark-forward", or
    "default", the old name of 7); None: default_mode(generation). Anything
    else raises vyrffc.Error ("invalid settings"); a mode that
    modes(generation) does not list, vyrffc.Error ("mode unavailable").
generation: None (the run's own), "current" or "previous".
threads: bands of rows corrected at once; None or 0: one per core; at most
    one per 16 rows and 256 in all; negative raises vyrffc.Error ("invalid
    settings"). The result is the same bits for every count.

The interpreter lock is released while it works.)doc")
        .def(
            "save",
            [](const PyCalibration& c, const py::object& path) {
                const std::string target = PathArgument(path);
                py::gil_scoped_release release;
                c.calibration.Save(target);
            },
            py::arg("path"),
            "Writes the calibration file (to a temporary file beside `path`, renamed over it once whole).")
        .def_static("load", &LoadFile, py::arg("path"), kLoadDoc)
        .def(
            "to_bytes", [](const PyCalibration& c) { return py::bytes(c.calibration.Serialize()); },
            "The calibration file's contents as bytes.")
        .def_static(
            "from_bytes",
            [](const py::bytes& contents) { return PyCalibration(vyrffc::Calibration::Deserialize(contents)); },
            py::arg("contents"), "A calibration read back from the bytes to_bytes() gave.")
        .def(py::pickle([](const PyCalibration& c) { return py::bytes(c.calibration.Serialize()); },
                        [](const py::bytes& contents) {
                            return PyCalibration(vyrffc::Calibration::Deserialize(contents));
                        }))
        .def("__repr__", [](const PyCalibration& c) {
            const vyrffc::Results& r = c.results();
            return "<vyrffc.Calibration " + std::string(vyrffc::RunName(r.run)) + " run, " + std::to_string(r.imageWidth) +
                   " x " + std::to_string(r.imageHeight) + ", " + std::to_string(r.significantDigits) + " digits>";
        });
    // pybind11 ignores __setstate__ on a calibration already made, silently;
    // unpickling calls it on a fresh one only, so on a live one it is refused.
    const py::object restore = calibrationClass.attr("__setstate__");
    calibrationClass.attr("__setstate__") = py::cpp_function(
        [restore](py::handle self, py::handle state) {
            auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
            if (instance->get_value_and_holder().holder_constructed()) {
                throw py::type_error("a vyrffc.Calibration is immutable; make a new one with "
                                     "vyrffc.Calibration.from_bytes or pickle.loads");
            }
            restore(self, state);
        },
        py::is_method(calibrationClass), py::name("set_state"));

    m.def("calibrate", &Calibrate, py::arg("folder"), py::arg("run") = "current", py::arg("digits") = 6,
          py::arg("reference_columns") = py::none(), py::arg("groups") = py::none(), py::arg("width") = py::none(),
          py::arg("height") = py::none(), py::arg("group_width") = 64, py::arg("camera_model") = py::none(),
          py::arg("camera_serial") = py::none(), py::arg("notes") = py::none(),
          (std::string("Calibrates from the *.bmp files of a folder (str or path-like).\n") + kCalibrateArgs +
           "\n\nFiles that cannot be used (another size, not an image, not a regular file) are\n"
           "skipped, each reported by warnings.warn as a vyrffc.SkippedFileWarning.")
              .c_str());
    m.def("calibrate_images", &CalibrateImages, py::arg("images"), py::arg("run") = "current",
          py::arg("digits") = 6, py::arg("reference_columns") = py::none(), py::arg("groups") = py::none(),
          py::arg("width") = py::none(), py::arg("height") = py::none(), py::arg("group_width") = 64,
          py::arg("camera_model") = py::none(), py::arg("camera_serial") = py::none(), py::arg("notes") = py::none(),
          (std::string("Calibrates from images in memory: a list of 2-D uint8 arrays or a 3-D uint8 array "
                       "(images, rows, columns), with the results of writing them in this order as BMP files "
                       "into a folder and calibrating that. The arrays are read in place.\n") +
           kCalibrateArgs)
              .c_str());
    m.def("load", &LoadFile, py::arg("path"), kLoadDoc);
    py::dict modes;
    for (int mode : vyrffc::AllModes()) modes[py::int_(mode)] = vyrffc::ModeName(mode);
    m.attr("MODES") = modes;
}

const vyrffc::Calibration& CalibrationOf(const py::handle& object) {
    if (!py::isinstance<PyCalibration>(object)) {
        throw py::type_error("calibration must be a vyrffc.Calibration, not " +
                             py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>());
    }
    return object.cast<const PyCalibration&>().calibration;
}

}  // namespace vyrffc_python
